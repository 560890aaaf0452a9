#pragma once

#include "graph/GraphPlot.h"

#include <QWidget>

class SampleStore;

// The plot on screen. It shows everything kept until the wheel zooms
// (around the pointer; while it follows the newest sample, keeping that at
// the right edge), a drag pans, and a double click shows everything again.
// Space pauses: the stretch on screen stays while samples keep coming in.
class GraphView : public QWidget {
    Q_OBJECT
public:
    explicit GraphView(const SampleStore& store, QWidget* parent = nullptr);

    void setAxis(GraphAxis axis);
    GraphAxis axis() const { return m_axis; }
    void setHidden(quint32 hidden);
    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    // New samples arrived: a view that follows them is drawn again.
    void samplesChanged();
    // Back to everything kept, following new samples.
    void showAll();
    // The stretch of the X axis on screen.
    void range(double& from, double& to) const;
    // The sample under the pointer, -1 when there is none.
    qint64 pointerSample() const { return m_pointerSample; }

signals:
    void pausedChanged(bool paused);
    void pointerMoved(qint64 sample);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Span { All, Latest, Fixed };
    double xAtPixel(double pixel) const;
    // Shows [from, to]: following the newest where `to` reaches it and the
    // view is live, else fixed.
    void show(double from, double to);
    void pointAt(int pixel);

    const SampleStore& m_store;
    GraphPlot m_plot;
    GraphAxis m_axis = GraphAxis::Sample;
    quint32 m_hidden = 0;
    Span m_span = Span::All;
    double m_width = 0;          // of Latest
    double m_from = 0, m_to = 0; // of Fixed
    bool m_paused = false;
    Span m_resume = Span::All; // what a pause interrupted
    bool m_dragging = false;
    int m_dragX = 0;
    double m_dragFrom = 0, m_dragTo = 0;
    int m_pointerX = -1;
    qint64 m_pointerSample = -1;
};
