#include "graph/GraphView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

namespace {

// Zooming in stops at a stretch this wide (samples, or ms).
constexpr double narrowest = 4;

} // namespace

GraphView::GraphView(const SampleStore& store, QWidget* parent) : QWidget(parent), m_store(store) {
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);
}

void GraphView::setAxis(GraphAxis axis) {
    m_axis = axis;
    showAll();
}

void GraphView::setHidden(quint32 hidden) {
    m_hidden = hidden;
    update();
}

void GraphView::setPaused(bool paused) {
    if (paused == m_paused)
        return;
    if (paused) {
        m_resume = m_span;
        range(m_from, m_to);
        m_span = Span::Fixed;
    } else if (m_resume != Span::Fixed) {
        m_span = m_resume;
    }
    m_paused = paused;
    update();
    emit pausedChanged(paused);
}

void GraphView::samplesChanged() {
    if (!m_paused && m_span != Span::Fixed)
        update();
    else if (m_pointerX >= 0)
        pointAt(m_pointerX); // samples under a still pointer may have gone
}

void GraphView::showAll() {
    m_span = Span::All;
    if (m_paused) {
        m_resume = Span::All;
        range(m_from, m_to);
        m_span = Span::Fixed;
    }
    update();
}

void GraphView::range(double& from, double& to) const {
    double first = 0, last = 0;
    GraphPlot::fullRange(m_store, m_axis, first, last);
    switch (m_span) {
    case Span::All:
        from = first;
        to = last;
        break;
    case Span::Latest:
        from = last - m_width;
        to = last;
        break;
    case Span::Fixed:
        from = m_from;
        to = m_to;
        break;
    }
}

void GraphView::show(double from, double to) {
    double first = 0, last = 0;
    GraphPlot::fullRange(m_store, m_axis, first, last);
    if (to - from < narrowest) {
        const double middle = (from + to) / 2;
        from = middle - narrowest / 2;
        to = middle + narrowest / 2;
    }
    if (!m_paused && from <= first && to >= last) {
        m_span = Span::All;
    } else if (!m_paused && to >= last) {
        m_span = Span::Latest;
        m_width = to - from;
    } else {
        m_span = Span::Fixed;
        m_from = from;
        m_to = to;
    }
    update();
}

double GraphView::xAtPixel(double pixel) const {
    const QRect plot = GraphPlot::plotArea(rect());
    double from = 0, to = 0;
    range(from, to);
    return from + (pixel - plot.left()) * (to - from) / std::max(1, plot.width() - 1);
}

void GraphView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PlotRequest request;
    request.axis = m_axis;
    range(request.from, request.to);
    request.hidden = m_hidden;
    request.pointerX = m_pointerX;
    m_plot.paint(painter, rect(), m_store, request);
}

void GraphView::wheelEvent(QWheelEvent* event) {
    const double factor = std::pow(0.8, event->angleDelta().y() / 120.0);
    double from = 0, to = 0;
    range(from, to);
    // A live view zooms about its newest sample, so it keeps following.
    const double anchor =
        m_span == Span::Fixed ? xAtPixel(event->position().x()) : std::max(from, to);
    show(anchor - (anchor - from) * factor, anchor + (to - anchor) * factor);
    event->accept();
}

void GraphView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_dragging = true;
    m_dragX = event->position().toPoint().x();
    range(m_dragFrom, m_dragTo);
}

void GraphView::mouseMoveEvent(QMouseEvent* event) {
    const int x = event->position().toPoint().x();
    if (m_dragging && (event->buttons() & Qt::LeftButton) && x != m_dragX) {
        const double perPixel =
            (m_dragTo - m_dragFrom) / std::max(1, GraphPlot::plotArea(rect()).width() - 1);
        const double shift = (m_dragX - x) * perPixel;
        show(m_dragFrom + shift, m_dragTo + shift);
    }
    pointAt(x);
}

void GraphView::mouseDoubleClickEvent(QMouseEvent*) {
    m_dragging = false;
    showAll();
}

void GraphView::leaveEvent(QEvent*) {
    pointAt(-1);
}

void GraphView::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space)
        return QWidget::keyPressEvent(event);
    setPaused(!m_paused);
}

void GraphView::pointAt(int pixel) {
    const QRect plot = GraphPlot::plotArea(rect());
    qint64 sample = -1;
    if (pixel >= plot.left() && pixel <= plot.right() && m_store.size() > 0) {
        const double x = xAtPixel(pixel);
        sample = std::min(GraphPlot::sampleAt(m_store, m_axis, x), m_store.end() - 1);
        // The nearer of the samples either side.
        if (sample > m_store.first() && x - GraphPlot::xOf(m_store, m_axis, sample - 1) <
                                            GraphPlot::xOf(m_store, m_axis, sample) - x)
            --sample;
    } else {
        pixel = -1;
    }
    const bool moved = sample != m_pointerSample;
    m_pointerX = pixel;
    m_pointerSample = sample;
    update();
    if (moved)
        emit pointerMoved(sample);
}
