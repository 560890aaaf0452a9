#include "script/ScriptCommands.h"

#include "platform/CodePage.h"
#include "platform/Failure.h"
#include "serial/ISerialCtl.h"
#include "terminal/frmTerminal.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

ScriptCommands::ScriptCommands(frmTerminal& window)
    : QObject(&window), m_window(window), m_runner(*window.SerialCtl1, *this) {
    mnuScript = new QMenu(QStringLiteral("ｽｸﾘﾌﾟﾄ(&S)"), &window);
    mnuScript->setObjectName(QStringLiteral("mnuScript"));
    mnuScriptRun = mnuScript->addAction(QStringLiteral("実行(&R)..."));
    mnuScriptRun->setObjectName(QStringLiteral("mnuScriptRun"));
    mnuScriptStop = mnuScript->addAction(QStringLiteral("中止(&T)"));
    mnuScriptStop->setObjectName(QStringLiteral("mnuScriptStop"));
    window.menuBar()->addMenu(mnuScript);

    fraScript = new QWidget(&window);
    fraScript->setObjectName(QStringLiteral("fraScript"));
    lblScript = new QLabel(fraScript);
    cmdScriptStop = new QPushButton(QStringLiteral("中止"), fraScript);
    cmdScriptStop->setObjectName(QStringLiteral("cmdScriptStop"));
    // The keyboard stays with the terminal.
    cmdScriptStop->setFocusPolicy(Qt::NoFocus);
    auto* row = new QHBoxLayout(fraScript);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(lblScript);
    row->addWidget(cmdScriptStop);
    fraScript->hide();
    window.sbrStatus->addPermanentWidget(fraScript);

    connect(mnuScriptRun, &QAction::triggered, this, &ScriptCommands::mnuScriptRun_Click);
    connect(mnuScriptStop, &QAction::triggered, this, &ScriptCommands::mnuScriptStop_Click);
    connect(cmdScriptStop, &QPushButton::clicked, this, &ScriptCommands::mnuScriptStop_Click);
    connect(mnuScript, &QMenu::aboutToShow, this, &ScriptCommands::refresh);
    connect(&m_runner, &ScriptRunner::ended, this, &ScriptCommands::ended);
    // Closing the program ends the script.
    connect(&window, &frmTerminal::ended, &m_runner, &ScriptRunner::stop);
    refresh();
}

void ScriptCommands::mnuScriptRun_Click() {
    if (m_runner.running())
        return;
    FileDialogSetup setup;
    setup.title = QStringLiteral("ｽｸﾘﾌﾟﾄを実行");
    setup.filters =
        QStringList{QStringLiteral("ｽｸﾘﾌﾟﾄ (*.lua)"), QStringLiteral("すべてのﾌｧｲﾙ (*.*)")};
    const FileDialogResult chosen = m_window.prompts().fileOpen(setup);
    if (!chosen.cancelled && !chosen.path.isEmpty())
        runFile(chosen.path);
}

void ScriptCommands::runFile(const QString& path) {
    bool open = false;
    try {
        open = m_window.SerialCtl1->PortOpen();
    } catch (const Failure&) {
    }
    if (m_runner.running() || !open)
        return;
    QString error;
    if (!m_runner.load(path, &error)) {
        m_window.prompts().warn(error);
        return;
    }
    lblScript->setText(m_runner.name());
    fraScript->show();
    m_runner.run(m_window.session());
    refresh();
}

void ScriptCommands::mnuScriptStop_Click() {
    m_runner.stop();
}

void ScriptCommands::refresh() {
    bool open = false;
    try {
        open = m_window.SerialCtl1->PortOpen();
    } catch (const Failure&) {
    }
    mnuScriptRun->setEnabled(open && !m_runner.running());
    mnuScriptStop->setEnabled(m_runner.running());
}

void ScriptCommands::print(const QString& text) {
    lblScript->setText(m_runner.name() + QStringLiteral(": ") + text);
}

void ScriptCommands::log(const QString& text) {
    if (!m_window.logOpen())
        return;
    QString error;
    qsizetype written = 0;
    const QByteArray line =
        encodeText(text + QStringLiteral("\r\n"), m_window.SerialCtl1->codePage());
    if (!m_window.writeLog(line, &error, &written))
        throw Failure(error);
}

void ScriptCommands::ended(const ScriptEnd& end) {
    // A script started since has the status to itself.
    if (!m_runner.running()) {
        fraScript->hide();
        lblScript->clear();
    }
    refresh();
    if (end.kind == ScriptEnd::Failed)
        m_window.prompts().warn(end.message);
}
