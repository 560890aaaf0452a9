#pragma once

#include "screen/LineFinder.h"

#include <QObject>
#include <QTimer>
#include <functional>

class FindBar;
class Prompts;
class QAction;
class SettingsStore;
class TerminalSession;
class TerminalView;

// What the window offers over its terminal's lines: how many it keeps
// (表示 > ｽｸﾛｰﾙﾊﾞｯｸ, saved as [View] Scrollback) and the find bar under it.
class ScreenControls : public QObject {
    Q_OBJECT
public:
    ScreenControls(TerminalView& view, TerminalSession& session, Prompts& prompts,
                   SettingsStore& settings, const QString& app, QWidget* window);

    // 表示(&V) > ｽｸﾛｰﾙﾊﾞｯｸ(&B)...
    QAction* mnuScrollback = nullptr;
    // Ctrl+Shift+F, F3 and Shift+F3, for the window to add.
    QList<QAction*> findActions;
    FindBar* bar() const { return m_bar; } // nullptr until first opened
    // The bar's height while it is shown, 0 otherwise.
    int barHeight() const;
    // Called when the bar is shown or hidden, so the window lays itself out.
    std::function<void()> relayout;

    void loadSettings();
    void mnuScrollback_Click();
    void openFind();
    void closeFind();
    void findNext(bool backward);
    const LineFinder& finder() const { return m_finder; }

private:
    void applyScrollback(qint64 lines);
    void queryChanged();
    void filterChanged();
    void catchUp();

    TerminalView& m_view;
    TerminalSession& m_session;
    Prompts& m_prompts;
    SettingsStore& m_settings;
    QString m_app;
    QWidget* m_window;
    FindBar* m_bar = nullptr;
    LineFinder m_finder;
    QTimer m_live;
    quint64 m_seen = 0;
};
