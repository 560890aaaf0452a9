#include "ScriptedPrompts.h"

QString toString(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::OK:
        return QStringLiteral("OK");
    case MsgButtons::OKCancel:
        return QStringLiteral("OKCancel");
    case MsgButtons::YesNoCancel:
        return QStringLiteral("YesNoCancel");
    case MsgButtons::RetryCancel:
        return QStringLiteral("RetryCancel");
    case MsgButtons::AbortRetryIgnore:
        return QStringLiteral("AbortRetryIgnore");
    }
    return QString();
}

QString toString(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::None:
        return QStringLiteral("none");
    case MsgIcon::Critical:
        return QStringLiteral("critical");
    case MsgIcon::Question:
        return QStringLiteral("question");
    case MsgIcon::Exclamation:
        return QStringLiteral("exclamation");
    case MsgIcon::Information:
        return QStringLiteral("information");
    }
    return QString();
}

static int firstButton(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::OK:
    case MsgButtons::OKCancel:
        return AnswerOK;
    case MsgButtons::YesNoCancel:
        return AnswerYes;
    case MsgButtons::RetryCancel:
        return AnswerRetry;
    case MsgButtons::AbortRetryIgnore:
        return AnswerAbort;
    }
    return AnswerOK;
}

int ScriptedPrompts::messageBox(const QString& text, const QString& title, MsgButtons buttons,
                                MsgIcon icon, int defaultButton) {
    const QString shownTitle = title.isEmpty() ? appTitle() : title;
    log << QStringLiteral("msg|%1|%2|%3|%4|%5")
               .arg(shownTitle, text, toString(buttons), toString(icon))
               .arg(defaultButton);
    m_lastText = text;
    m_lastTitle = shownTitle;
    m_lastIcon = icon;
    m_lastButtons = buttons;
    ++m_messages;
    m_open << text;
    if (whileMessageOpen)
        whileMessageOpen();
    m_open.removeOne(text);
    if (m_closed.contains(text))
        return buttons == MsgButtons::OK ? AnswerOK : AnswerCancel;
    if (!messageAnswers.isEmpty())
        return messageAnswers.takeFirst();
    return firstButton(buttons);
}

std::optional<QString> ScriptedPrompts::inputBox(const QString& prompt, const QString& title,
                                                 const QString& defaultReply) {
    const QString shownTitle = title.isEmpty() ? appTitle() : title;
    log << QStringLiteral("input|%1|%2|%3").arg(shownTitle, prompt, defaultReply);
    if (!inputAnswers.isEmpty())
        return inputAnswers.takeFirst();
    return std::nullopt;
}

FileDialogResult ScriptedPrompts::fileOpen(const FileDialogSetup& setup) {
    log << QStringLiteral("file|%1").arg(setup.title);
    fileSetups << setup;
    if (!fileAnswers.isEmpty())
        return fileAnswers.takeFirst();
    FileDialogResult cancelled;
    cancelled.cancelled = true;
    return cancelled;
}

void ScriptedPrompts::closeMessageBox(const QString& text) {
    if (!m_open.contains(text))
        return;
    log << QStringLiteral("closed|") + text;
    m_closed << text;
}

void ScriptedPrompts::beep() {
    log << QStringLiteral("beep");
    ++beeps;
}

int ScriptedPrompts::messageCount() const {
    return m_messages;
}

void ScriptedPrompts::clear() {
    log.clear();
    fileSetups.clear();
    beeps = 0;
    m_messages = 0;
    m_closed.clear();
    m_lastText.clear();
    m_lastTitle.clear();
}
