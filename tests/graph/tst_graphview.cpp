// The pane as a person uses it: what stays on screen as samples arrive while
// zoomed, panned, reset and paused; the legend; a single sample among a
// million still drawn.
#include "graph/GraphFeed.h"
#include "graph/GraphPane.h"
#include "graph/GraphView.h"

#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QToolButton>
#include <QtTest>

namespace {

void addSamples(GraphFeed& feed, int from, int to) {
    QString text;
    for (int i = from; i < to; ++i)
        text += QStringLiteral("v:%1\n").arg(i % 10);
    feed.receivedText(text, from);
}

QPair<double, double> shown(const GraphView& view) {
    double from = 0, to = 0;
    view.range(from, to);
    return {from, to};
}

// Pixels of the channel's colour in the top fifth of the plot.
int topPixels(const QImage& image, const QRect& area, int channel) {
    const QRect plot = GraphPlot::plotArea(area);
    int count = 0;
    for (int y = plot.top() + 1; y < plot.top() + plot.height() / 5; ++y)
        for (int x = plot.left() + 1; x < plot.right(); ++x)
            count += image.pixelColor(x, y) == GraphPlot::colour(channel);
    return count;
}

} // namespace

class tst_graphview : public QObject {
    Q_OBJECT
private slots:
    void viewFollowsUntilMovedOrPaused();
    void legendAndCounts();
    void lonePeakAmongAMillionIsDrawn();
};

void tst_graphview::viewFollowsUntilMovedOrPaused() {
    GraphFeed feed;
    GraphPane pane(feed);
    pane.resize(640, 400);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    GraphView& view = *pane.view();
    addSamples(feed, 0, 1000);
    pane.refresh();
    QCOMPARE(shown(view), qMakePair(0.0, 999.0));

    // Zoomed in while live: the newest sample stays at the right edge.
    QWheelEvent wheel(QPointF(100, 100), view.mapToGlobal(QPointF(100, 100)), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
    const double width = shown(view).second - shown(view).first;
    QVERIFY(width < 900 && shown(view).second == 999);
    addSamples(feed, 1000, 1100);
    pane.refresh();
    QCOMPARE(shown(view), qMakePair(1099 - width, 1099.0));

    // Dragged back in time: it stays where it was put.
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(300, 100));
    QMouseEvent drag(QEvent::MouseMove, QPointF(400, 100), view.mapToGlobal(QPointF(400, 100)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &drag);
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(400, 100));
    const auto dragged = shown(view);
    QVERIFY(dragged.second < 1099 && qAbs(dragged.second - dragged.first - width) < 1e-6);
    addSamples(feed, 1100, 1200);
    pane.refresh();
    QCOMPARE(shown(view), dragged);

    QTest::mouseDClick(&view, Qt::LeftButton, {}, QPoint(300, 100));
    QCOMPARE(shown(view), qMakePair(0.0, 1199.0));

    // Paused by Space: samples go on arriving, the view holds still.
    QTest::keyClick(&view, Qt::Key_Space);
    QVERIFY(view.paused() && pane.pauseButton()->isChecked());
    addSamples(feed, 1200, 1300);
    pane.refresh();
    QCOMPARE(shown(view), qMakePair(0.0, 1199.0));
    QCOMPARE(feed.store().end(), 1300);
    pane.pauseButton()->click();
    QCOMPARE(shown(view), qMakePair(0.0, 1299.0));
}

void tst_graphview::legendAndCounts() {
    GraphFeed feed;
    GraphPane pane(feed);
    pane.resize(640, 400);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    feed.receivedText("booting\r\nv:1,w:2\r\nv:3\r\nready 2\r\n", 0);
    pane.refresh();
    QCOMPARE(pane.skippedLabel()->text(), QStringLiteral("数値のない行: 2"));
    QCOMPARE(pane.legend()->count(), 2);

    // The values of the sample under the pointer; a channel the line lacked has none.
    const QRect plot = GraphPlot::plotArea(pane.view()->rect());
    const QPointF at(plot.right() - 1, plot.center().y());
    QMouseEvent move(QEvent::MouseMove, at, pane.view()->mapToGlobal(at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(pane.view(), &move);
    QCOMPARE(pane.view()->pointerSample(), 1);
    QCOMPARE(pane.legend()->item(0)->text(), QStringLiteral("v = 3"));
    QCOMPARE(pane.legend()->item(1)->text(), QStringLiteral("w"));

    const auto drawn = [&](int channel) {
        const QImage image = pane.view()->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += image.pixelColor(x, y) == GraphPlot::colour(channel);
        return count;
    };
    QVERIFY(drawn(0) > 0);
    pane.legend()->item(0)->setCheckState(Qt::Unchecked);
    QCOMPARE(drawn(0), 0);
}

// Each pixel column stands for its lowest and highest sample, so one sample
// out of line among a million still shows.
void tst_graphview::lonePeakAmongAMillionIsDrawn() {
    GraphFeed feed;
    QString text;
    for (int i = 0; i < 1000000; ++i) {
        text += i == 612345 ? QStringLiteral("100\n") : QStringLiteral("0\n");
        if (text.size() > 65536 || i == 999999) {
            feed.receivedText(text, i);
            text.clear();
        }
    }
    QImage image(500, 300, QImage::Format_RGB32);
    GraphPlot plot;
    PlotRequest request;
    for (GraphAxis axis : {GraphAxis::Sample, GraphAxis::Time}) {
        request.axis = axis;
        GraphPlot::fullRange(feed.store(), axis, request.from, request.to);
        QPainter painter(&image);
        plot.paint(painter, image.rect(), feed.store(), request);
        painter.end();
        QVERIFY(topPixels(image, image.rect(), 0) > 0);
    }
}

QTEST_MAIN(tst_graphview)
#include "tst_graphview.moc"
