#pragma once

#include "platform/CodePage.h"

#include <QByteArray>
#include <QString>

class ISerialCtl;
class Prompts;
class TextTarget;

// A log write that failed is being retried behind a modal box. Text that
// arrives meanwhile waits in `queued`, so the log keeps the order of the
// screen and no second box opens.
struct LogRetry {
    bool active = false;
    QByteArray queued;
};

// What the data path needs from the main window, and the window's own state
// that the data path keeps.
class DataPathHost {
public:
    virtual ~DataPathHost() = default;

    // Typed characters are also shown in the terminal. False at start;
    // loaded from "Echo" and changed by the properties dialog.
    bool LocalEcho = false;
    LogRetry logRetry;

    virtual Prompts& prompts() = 0;
    virtual int LogFileNumber() const = 0;
    // Appends bytes to the open capture log; false with a description on
    // failure. `written` gets how many bytes reached the log, on failure too.
    virtual bool writeLog(const QByteArray& bytes, QString* error, qsizetype* written) = 0;
    virtual void mnuCloseLog_Click() = 0;
    // Brings the connection display in line with the port's real state.
    virtual void refreshConnectionDisplay() = 0;
    virtual void setStatusText(const QString& text) = 0; // the "Status" panel
    virtual void enableTimer2() = 0;                     // (re)starts its 2000 ms
    // Every received chunk as the port gave it, before it is shown.
    virtual void bytesReceived(const QByteArray& bytes) { Q_UNUSED(bytes); }
};

// Puts text at the end of the terminal, edited for the control, and appends
// the same edited text to the open log.
void AppendToTerminal(TextTarget& term, QString data, DataPathHost& host,
                      const QByteArray& codePage);

// The comm event handler and its receive decoder.
class CommEventHandler {
public:
    CommEventHandler(ISerialCtl& serial, TextTarget& term, DataPathHost& host);
    void SerialCtl1_OnComm();
    // The port closed: show what the decoder held back.
    void portClosed();

private:
    ISerialCtl& m_serial;
    TextTarget& m_term;
    DataPathHost& m_host;
    StreamDecoder m_decoder;
    bool m_promptOpen = false;
};

// txtTerm_KeyPress: keyCode is in/out (0 drops the key). LineBuffer and
// LineStarted are the window's.
void TerminalKeyPress(int& keyCode, QString& LineBuffer, bool& LineStarted, ISerialCtl& serial,
                      TextTarget& term, DataPathHost& host);
