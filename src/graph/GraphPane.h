#pragma once

#include <QTimer>
#include <QWidget>

class GraphFeed;
class GraphView;
class QComboBox;
class QLabel;
class QListWidget;
class QToolButton;

// The graph beside the terminal: a bar with the pause button, the X axis
// choice, the count of lines without a number and the point under the
// pointer; the plot; a legend that shows or hides each channel and gives
// its value under the pointer.
class GraphPane : public QWidget {
    Q_OBJECT
public:
    explicit GraphPane(const GraphFeed& feed, QWidget* parent = nullptr);

    GraphView* view() const { return m_view; }
    QToolButton* pauseButton() const { return m_pause; }
    QComboBox* axisChoice() const { return m_axis; }
    QLabel* skippedLabel() const { return m_skipped; }
    QListWidget* legend() const { return m_legend; }
    // Brings the pane up to what the feed holds (its timer does this a
    // frame at most after new lines).
    void refresh();

private:
    void showPointer(qint64 sample);
    void legendChanged();

    const GraphFeed& m_feed;
    GraphView* m_view;
    QToolButton* m_pause;
    QComboBox* m_axis;
    QLabel* m_skipped;
    QLabel* m_pointer;
    QListWidget* m_legend;
    QTimer m_frame;
    quint64 m_revision = 0;
};
