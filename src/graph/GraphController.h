#pragma once

#include "graph/GraphFeed.h"

#include <QObject>
#include <QRect>
#include <memory>

class GraphPane;
class Prompts;
class QAction;
class QMenu;
class QSplitter;
class QWidget;
class SettingsStore;
class TerminalSession;

// The graph's place in the window: its two items in the View menu, the
// splitter that puts the pane beside the terminal, and the feed that reads
// the received lines while the graph is shown.
class GraphController : public QObject {
    Q_OBJECT
public:
    GraphController(TerminalSession& session, QWidget* terminal, Prompts& prompts,
                    SettingsStore& store, QObject* parent = nullptr);
    ~GraphController() override;

    QAction* mnuGraph;
    QAction* mnuGraphCsv;

    void addTo(QMenu* menu);
    // The shown state saved under [View].
    void loadSettings();
    // Lays the terminal, or the terminal and the pane, over `area` of the
    // terminal's parent.
    void place(const QRect& area);
    void setShown(bool shown);
    bool shown() const { return m_shown; }
    // Asks for a file and writes every sample kept to it.
    void saveCsv();

    const GraphFeed& feed() const { return m_feed; }
    GraphPane* pane() const { return m_pane; }

private:
    TerminalSession& m_session;
    QWidget* m_terminal;
    QWidget* m_client;
    Prompts& m_prompts;
    SettingsStore& m_store;
    GraphFeed m_feed;
    QSplitter* m_splitter = nullptr;
    GraphPane* m_pane = nullptr;
    QRect m_area;
    bool m_shown = false;
    bool m_halved = false; // the first split has been made
};
