#pragma once

#include "script/ScriptRunner.h"

#include <QObject>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QWidget;
class frmTerminal;

// The window's script menu: run a file, stop it. While one runs, the status
// bar shows its name, what it printed last and a stop button; an error is
// shown in the warning box.
class ScriptCommands : public QObject, private ScriptOutput {
    Q_OBJECT
public:
    // Adds the menu after the window's last one and the status to its bar.
    explicit ScriptCommands(frmTerminal& window);

    QMenu* mnuScript;
    QAction* mnuScriptRun;
    QAction* mnuScriptStop;
    QWidget* fraScript;
    QLabel* lblScript;
    QPushButton* cmdScriptStop;

    void mnuScriptRun_Click();
    void mnuScriptStop_Click();
    // Runs the file as the run item does once its dialog has answered.
    void runFile(const QString& path);
    // Brings the items in line with the port and the running script.
    void refresh();
    ScriptRunner& runner() { return m_runner; }

private:
    void print(const QString& text) override;
    void log(const QString& text) override;
    void ended(const ScriptEnd& end);

    frmTerminal& m_window;
    ScriptRunner m_runner;
};
