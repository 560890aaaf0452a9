#include "graph/GraphPlot.h"

#include <QDateTime>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace {

constexpr int leftMargin = 64, topMargin = 8, rightMargin = 10, bottomMargin = 22;

// 1, 2 or 5 times a power of ten, giving about `count` steps over `span`.
double niceStep(double span, int count) {
    const double rough = span / std::max(count, 1);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0})
        if (rough <= factor * power)
            return factor * power;
    return 10 * power;
}

double toPixel(double value, double low, double high, double start, double length) {
    return start + (value - low) / (high - low) * length;
}

} // namespace

QRect GraphPlot::plotArea(const QRect& area) {
    return area.adjusted(leftMargin, topMargin, -rightMargin, -bottomMargin);
}

QColor GraphPlot::colour(int channel) {
    static const QRgb colours[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd, 0x8c564b,
                                   0xe377c2, 0x17becf, 0x7f7f7f, 0xbcbd22, 0x000080, 0x800000,
                                   0x008000, 0xb8860b, 0x4b0082, 0x2f4f4f};
    return QColor(colours[channel % (sizeof colours / sizeof *colours)]);
}

double GraphPlot::xOf(const SampleStore& store, GraphAxis axis, qint64 sample) {
    return axis == GraphAxis::Sample ? double(sample) : double(store.timeAt(sample));
}

qint64 GraphPlot::sampleAt(const SampleStore& store, GraphAxis axis, double x) {
    const double up = std::ceil(x);
    if (axis == GraphAxis::Time)
        return store.sampleAtTime(qint64(std::clamp(up, -9e15, 9e15)));
    return qint64(std::clamp(up, double(store.first()), double(store.end())));
}

void GraphPlot::fullRange(const SampleStore& store, GraphAxis axis, double& from, double& to) {
    if (store.size() == 0) {
        from = to = 0;
        return;
    }
    from = xOf(store, axis, store.first());
    to = xOf(store, axis, store.end() - 1);
}

void GraphPlot::paint(QPainter& painter, const QRect& area, const SampleStore& store,
                      const PlotRequest& request) {
    painter.fillRect(area, Qt::white);
    const QRect plot = plotArea(area);
    if (plot.width() < 2 || plot.height() < 2)
        return;
    const int width = plot.width();
    PlotRequest shown = request;
    if (!(shown.to > shown.from))
        shown.to = shown.from + 1;

    // The first sample of every pixel column.
    m_bounds.resize(size_t(width) + 1);
    for (int column = 0; column <= width; ++column)
        m_bounds[size_t(column)] =
            sampleAt(store, shown.axis, shown.from + (shown.to - shown.from) * column / width);
    const bool dense = m_bounds[size_t(width)] - m_bounds[0] > width;
    // Many blocks to a column: its edges move to block edges, a shift of a
    // few per cent of a pixel that spares reading rows one by one.
    if (m_bounds[size_t(width)] - m_bounds[0] > qint64(width) * 8 * SampleStore::BlockRows)
        for (int column = 1; column < width; ++column)
            m_bounds[size_t(column)] = (m_bounds[size_t(column)] + SampleStore::BlockRows / 2) /
                                       SampleStore::BlockRows * SampleStore::BlockRows;

    const int channels = store.channelCount();
    SampleStore::Extent all{HUGE_VAL, -HUGE_VAL};
    if (dense)
        m_extents.resize(size_t(channels) * size_t(width));
    for (int channel = 0; channel < channels; ++channel) {
        if (shown.hidden & (1u << channel))
            continue;
        if (!dense) {
            // One sample either side too, for the lines that leave the plot.
            const auto e = store.extent(channel, m_bounds[0] - 1, m_bounds[size_t(width)] + 1);
            all = {std::min(all.low, e.low), std::max(all.high, e.high)};
            continue;
        }
        for (int column = 0; column < width; ++column) {
            const auto e =
                store.extent(channel, m_bounds[size_t(column)], m_bounds[size_t(column) + 1]);
            m_extents[size_t(channel) * size_t(width) + size_t(column)] = e;
            all = {std::min(all.low, e.low), std::max(all.high, e.high)};
        }
    }
    if (!all.any())
        all = {-1, 1};
    if (all.high - all.low < 1e-12 * std::max(1.0, std::fabs(all.low))) {
        const double pad = std::max(1e-9, std::fabs(all.low) * 0.1);
        all = {all.low - pad, all.high + pad};
    }
    const double pad = (all.high - all.low) * 0.05;
    const double low = all.low - pad, high = all.high + pad;

    drawScales(painter, plot, shown, low, high);
    painter.save();
    painter.setClipRect(plot);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int channel = 0; channel < channels; ++channel) {
        if (shown.hidden & (1u << channel))
            continue;
        painter.setPen(QPen(colour(channel), 0));
        if (dense)
            drawDense(painter, channel, plot, low, high);
        else
            drawSparse(painter, store, channel, plot, shown, low, high);
    }
    if (request.pointerX >= plot.left() && request.pointerX <= plot.right()) {
        painter.setPen(QPen(Qt::darkGray, 0, Qt::DashLine));
        painter.drawLine(request.pointerX, plot.top(), request.pointerX, plot.bottom());
    }
    painter.restore();
}

void GraphPlot::drawScales(QPainter& painter, const QRect& plot, const PlotRequest& request,
                           double low, double high) {
    const QPen grid(QColor(0xe0, 0xe0, 0xe0), 0);
    const QPen text(Qt::black);
    const int textHeight = painter.fontMetrics().height();
    const double yStep = niceStep(high - low, std::max(2, plot.height() / (textHeight * 2)));
    for (double y = std::ceil(low / yStep) * yStep; y <= high; y += yStep) {
        const int pixel =
            int(std::lround(toPixel(y, low, high, plot.bottom(), -double(plot.height() - 1))));
        painter.setPen(grid);
        painter.drawLine(plot.left(), pixel, plot.right(), pixel);
        painter.setPen(text);
        const double shown = std::fabs(y) < yStep * 1e-6 ? 0.0 : y;
        painter.drawText(QRect(0, pixel - textHeight / 2, plot.left() - 4, textHeight),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(shown, 'g', 6));
    }
    const double span = request.to - request.from;
    const bool time = request.axis == GraphAxis::Time;
    const double xStep = std::max(1.0, niceStep(span, std::max(2, plot.width() / 110)));
    for (double x = std::ceil(request.from / xStep) * xStep; x <= request.to; x += xStep) {
        const int pixel =
            int(std::lround(toPixel(x, request.from, request.to, plot.left(), plot.width() - 1)));
        painter.setPen(grid);
        painter.drawLine(pixel, plot.top(), pixel, plot.bottom());
        const QString label =
            time ? QDateTime::fromMSecsSinceEpoch(qint64(x)).toString(
                       xStep < 1000 ? QStringLiteral("hh:mm:ss.zzz") : QStringLiteral("hh:mm:ss"))
                 : QString::number(qint64(x));
        painter.setPen(text);
        painter.drawText(QRect(pixel - 60, plot.bottom() + 3, 120, textHeight), Qt::AlignHCenter,
                         label);
    }
    painter.setPen(QPen(Qt::gray, 0));
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
}

// A vertical stroke per column from its lowest to its highest value,
// stretched to meet the column before so the trace stays unbroken.
void GraphPlot::drawDense(QPainter& painter, int channel, const QRect& plot, double low,
                          double high) {
    const int width = plot.width();
    const double top = plot.bottom(), length = -double(plot.height() - 1);
    m_lines.clear();
    bool before = false;
    double beforeLow = 0, beforeHigh = 0;
    for (int column = 0; column < width; ++column) {
        const auto& e = m_extents[size_t(channel) * size_t(width) + size_t(column)];
        if (!e.any()) {
            before = false;
            continue;
        }
        double from = e.low, to = e.high;
        if (before) {
            from = std::min(from, beforeHigh);
            to = std::max(to, beforeLow);
        }
        before = true;
        beforeLow = e.low;
        beforeHigh = e.high;
        const double x = plot.left() + column + 0.5;
        m_lines.emplace_back(x, toPixel(from, low, high, top, length), x,
                             toPixel(to, low, high, top, length));
    }
    painter.drawLines(m_lines.data(), int(m_lines.size()));
}

// Lines from sample to sample, broken where a line said nan.
void GraphPlot::drawSparse(QPainter& painter, const SampleStore& store, int channel,
                           const QRect& plot, const PlotRequest& request, double low, double high) {
    QPolygonF trace;
    const qint64 from = std::max(store.first(), m_bounds.front() - 1);
    const qint64 to = std::min(store.end(), m_bounds.back() + 1);
    const auto flush = [&] {
        if (trace.size() == 1)
            painter.drawPoint(trace.front());
        else if (trace.size() > 1)
            painter.drawPolyline(trace);
        trace.clear();
    };
    for (qint64 sample = from; sample < to; ++sample) {
        if (!store.present(channel, sample))
            continue;
        const double value = store.valueAt(channel, sample);
        if (!std::isfinite(value)) {
            flush();
            continue;
        }
        trace << QPointF(toPixel(xOf(store, request.axis, sample), request.from, request.to,
                                 plot.left(), plot.width() - 1),
                         toPixel(value, low, high, plot.bottom(), -double(plot.height() - 1)));
    }
    flush();
}
