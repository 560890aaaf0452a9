#pragma once

#include "datapath/EscapeFilter.h"
#include "datapath/HexRows.h"
#include "platform/CodePage.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <memory>
#include <vector>

class DataPathHost;
class ISerialCtl;
class ReceiveConsumer;
class ReceiveTakeover;
class TextTarget;

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
    // appends the same edited text to the open log. `readMs` is when its
    // first character was read (ms since the epoch), 0 for now.
    void append(QString data, qint64 readMs = 0);
    void append(const StyledText& data, qint64 readMs = 0);
    // Bytes read at `readMs`; a character cut between two reads waits for its
    // rest.
    void receive(const QByteArray& bytes, qint64 readMs = 0);

    // How many lines the terminal keeps; 0 keeps its character limit instead.
    void setScrollback(qint64 lines) { m_scrollback = std::max<qint64>(0, lines); }
    qint64 scrollback() const { return m_scrollback; }

    // Each line starts with the time its first character was read.
    void setTimestamps(bool on) { m_stamps = on; }
    bool timestamps() const { return m_stamps; }
    // Received bytes show as hex rows; text decoding resumes where it was.
    void setHexView(bool on);
    bool hexView() const { return m_hex; }
    // The line has been silent: the hex row being filled ends.
    void endHexRow();
    // The port opened: hex offsets count from here.
    void portOpened();
    // Received text, echoed text and the log use this set from the next
    // character boundary on.
    void setCodePage(const QByteArray& codePage);

    // The comm event handler.
    void onComm(ISerialCtl& serial);
    // The port closed: show what the decoder held back.
    void portClosed(ISerialCtl& serial);
    // txtTerm_KeyPress: keyCode is in/out (0 drops the key).
    void keyPress(int& keyCode, ISerialCtl& serial);

    const QByteArray& codePage() const { return m_decoder->codePage(); }

    // Escape sequences in received text are taken out and their colours
    // shown. Off at start. Turning it off shows a sequence still held.
    bool interpretsEscapes() const { return m_interpretEscapes; }
    void setInterpretEscapes(bool on);

    // Consumers of what is received, called in the order added. The caller
    // keeps ownership and removes a consumer before destroying it; removing
    // one from inside a call is safe.
    void addConsumer(ReceiveConsumer* consumer);
    void removeConsumer(ReceiveConsumer* consumer);
    // While set, received bytes go to `takeover` and the raw log only.
    void setTakeover(ReceiveTakeover* takeover) { m_takeover = takeover; }
    ReceiveTakeover* takeover() const { return m_takeover; }

private:
    // A log write that failed is being retried behind a modal box. What
    // arrives meanwhile waits in `queued`, so the log keeps the order of the
    // screen and no second box opens.
    struct LogRetry {
        bool active = false;
        QByteArray queued;
    };
    void writeLog(const QByteArray& bytes, bool raw);
    QString decode(const QByteArray& bytes);
    void showHex(const QByteArray& bytes, qint64 readMs);
    QString hexLine(const HexRows::Row& row) const;
    bool endsLine(int length) const;
    StyledText filtered(const QString& text);
    template <class Call> void toConsumers(Call&& call);
    void takeRestAtClose(ISerialCtl& serial);

    TextTarget& m_term;
    DataPathHost& m_host;
    std::unique_ptr<StreamDecoder> m_decoder;
    QByteArray m_nextCodePage; // waiting for a character boundary
    bool m_promptOpen = false;
    LogRetry m_logRetry;
    LogRetry m_rawRetry;
    qint64 m_scrollback = 0;
    bool m_stamps = false;
    bool m_hex = false;
    HexRows m_rows;
    int m_partialShown = 0; // units of the growing hex row at the end
    bool m_interpretEscapes = false;
    EscapeFilter m_escapes;
    std::vector<ReceiveConsumer*> m_consumers; // nullptr: removed during a call
    int m_dispatching = 0;
    ReceiveTakeover* m_takeover = nullptr;
};
