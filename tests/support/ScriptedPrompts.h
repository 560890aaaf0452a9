#pragma once

#include "platform/Prompts.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Answers every box from a script and records what was asked, one line per
// box: "msg|<title>|<text>|<buttons>|<icon>|<default>", "input|<title>|<prompt>|<default>",
// "file|<title>", "beep". An empty script answers OK/Cancel-less defaults:
// the first button, Cancel for input boxes and file dialogs.
class ScriptedPrompts : public Prompts {
public:
    int messageBox(const QString& text, const QString& title, MsgButtons buttons, MsgIcon icon,
                   int defaultButton = 0) override;
    std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                    const QString& defaultReply) override;
    FileDialogResult fileOpen(const FileDialogSetup& setup) override;
    void beep() override;
    // Logs "closed|<text>" when a box with the text is open (in whileMessageOpen).
    void closeMessageBox(const QString& text) override;
    bool closedByProgram(const QString& text) const { return m_closed.contains(text); }

    // Scripted answers, taken in order by each kind of box.
    QList<int> messageAnswers;
    QList<std::optional<QString>> inputAnswers;
    QList<FileDialogResult> fileAnswers;
    // Runs while a message box is "open", before it answers: lets a test
    // deliver events during a modal box.
    std::function<void()> whileMessageOpen;

    QStringList log;                   // every box asked, in order
    QList<FileDialogSetup> fileSetups; // every file dialog's setup
    int beeps = 0;
    int messageCount() const;
    QString lastMessageText() const { return m_lastText; }
    QString lastMessageTitle() const { return m_lastTitle; }
    MsgIcon lastIcon() const { return m_lastIcon; }
    MsgButtons lastButtons() const { return m_lastButtons; }
    void clear();

private:
    QString m_lastText, m_lastTitle;
    MsgIcon m_lastIcon = MsgIcon::None;
    MsgButtons m_lastButtons = MsgButtons::OK;
    int m_messages = 0;
    QStringList m_open, m_closed;
};

QString toString(MsgButtons buttons);
QString toString(MsgIcon icon);
