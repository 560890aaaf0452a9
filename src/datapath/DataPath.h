#pragma once

#include "platform/CodePage.h"

#include <QByteArray>
#include <QString>

class ISerialCtl;
class Prompts;
class TextTarget;

// What the data path asks of the main window.
class DataPathHost {
public:
    virtual ~DataPathHost() = default;

    virtual Prompts& prompts() = 0;
    virtual bool logOpen() const = 0;
    // Appends bytes to the open capture log; false with a description on
    // failure. `written` gets how many bytes reached the log, on failure too.
    virtual bool writeLog(const QByteArray& bytes, QString* error, qsizetype* written) = 0;
    virtual void closeLog() = 0;
    // Brings the connection display in line with the port's real state.
    virtual void refreshConnectionDisplay() = 0;
    // The "Status" panel; a shown text is cleared a while after clearStatusSoon().
    virtual void showStatus(const QString& text) = 0;
    virtual void clearStatusSoon() = 0;
    // Every received chunk as the port gave it, before it is shown.
    virtual void bytesReceived(const QByteArray& bytes) { Q_UNUSED(bytes); }
};

// A comm event's text for the status panel; errors also raise a prompt.
struct CommEventText {
    QString text; // empty for events that show nothing
    bool error = false;
};
CommEventText commEventText(int code);

// One terminal: what it shows, what it logs, and the line being typed.
class TerminalSession {
public:
    TerminalSession(TextTarget& term, DataPathHost& host, const QByteArray& codePage);

    // Typed characters are also shown in the terminal. False at start;
    // loaded from "Echo" and changed by the properties dialog.
    bool LocalEcho = false;
    // The typed line not sent yet, and whether it has been opened on screen.
    QString LineBuffer;
    bool LineStarted = false;

    // Puts text at the end of the terminal, edited for the control, and
    // appends the same edited text to the open log.
    void append(QString data);
    // Received bytes; a character cut between two reads waits for its rest.
    void receive(const QByteArray& bytes);

    // The comm event handler.
    void onComm(ISerialCtl& serial);
    // The port closed: show what the decoder held back.
    void portClosed(ISerialCtl& serial);
    // txtTerm_KeyPress: keyCode is in/out (0 drops the key).
    void keyPress(int& keyCode, ISerialCtl& serial);

    const QByteArray& codePage() const { return m_decoder.codePage(); }

private:
    void writeLog(const QByteArray& bytes);

    TextTarget& m_term;
    DataPathHost& m_host;
    StreamDecoder m_decoder;
    bool m_promptOpen = false;
    // A log write that failed is being retried behind a modal box. Text that
    // arrives meanwhile waits in `m_logQueued`, so the log keeps the order of
    // the screen and no second box opens.
    bool m_logRetrying = false;
    QByteArray m_logQueued;
};
