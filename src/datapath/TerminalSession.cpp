#include "datapath/TerminalSession.h"

#include "datapath/ControlEditing.h"
#include "datapath/DataPath.h"
#include "datapath/LineStamps.h"
#include "datapath/ReceiveConsumer.h"
#include "datapath/TextTarget.h"
#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "serial/ISerialCtl.h"

#include <QDateTime>
#include <algorithm>
#include <utility>

namespace {

constexpr char16_t BS = 8, LF = 10, CR = 13;

const QString StatusPrefix = QStringLiteral("ｽﾃｰﾀｽ: ");

} // namespace

TerminalSession::TerminalSession(TextTarget& term, DataPathHost& host, const QByteArray& codePage)
    : m_term(term), m_host(host), m_decoder(std::make_unique<StreamDecoder>(codePage)) {}

bool TerminalSession::endsLine(int length) const {
    return length <= 0 || m_term.charAt(length - 1).unicode() == LF;
}

void TerminalSession::append(QString data, qint64 readMs) {
    append(StyledText{std::move(data), {}}, readMs);
}

void TerminalSession::append(const StyledText& received, qint64 readMs) {
    if (m_partialShown > 0)
        endHexRow();
    if (m_scrollback == 0)
        boundContent(m_term);
    const int n = m_term.TextLength();

    bool leadingBackspace = false;
    StyledText data = editForControl(received, leadingBackspace);

    // A leading backspace selects the content's last character; with no
    // content there is nothing to erase.
    int width = 0;
    if (leadingBackspace && n > 0) {
        width = 1;
        if (n >= 2 && m_term.charAt(n - 1).isLowSurrogate() &&
            m_term.charAt(n - 2).isHighSurrogate())
            width = 2;
    }
    if (!readMs)
        readMs = QDateTime::currentMSecsSinceEpoch();
    if (m_stamps) {
        bool atLineStart = endsLine(n - width);
        data = insertStamps(data, stampText(readMs), atLineStart);
    }
    m_term.setReadTime(readMs);
    m_term.setSelStart(n - width);
    if (width > 0)
        m_term.setSelLength(width);
    if (data.runs.isEmpty())
        m_term.setSelText(data.text);
    else
        m_term.setSelStyledText(data);

    if (m_host.logOpen() && !data.text.isEmpty())
        writeLog(encodeText(data.text, codePage()), false);

    m_term.setSelStart(m_term.TextLength());
    if (m_scrollback > 0)
        m_term.keepLines(m_scrollback);
}

void TerminalSession::writeLog(const QByteArray& bytes, bool raw) {
    LogRetry& retry = raw ? m_rawRetry : m_logRetry;
    if (retry.active) {
        retry.queued += bytes;
        return;
    }
    QByteArray pending = bytes;
    QString error;
    retry.active = true;
    for (;;) {
        qsizetype written = 0;
        const bool done = raw ? m_host.writeRawLog(pending, &error, &written)
                              : m_host.writeLog(pending, &error, &written);
        // What reached the log before a failure is not written again.
        pending.remove(0, written);
        if (done) {
            if (retry.queued.isEmpty())
                break;
            pending = retry.queued;
            retry.queued.clear();
            continue;
        }
        const int answer = m_host.prompts().messageBox(error, appTitle(), MsgButtons::RetryCancel,
                                                       MsgIcon::Critical);
        if (answer != AnswerRetry) {
            retry = LogRetry();
            if (raw)
                m_host.closeRawLog();
            else
                m_host.closeLog();
            return;
        }
    }
    retry = LogRetry();
}

QString TerminalSession::decode(const QByteArray& bytes) {
    QString text;
    qsizetype from = 0;
    // A new set waits until the character begun in the old one is whole.
    while (!m_nextCodePage.isEmpty()) {
        if (m_decoder->heldBytes() == 0) {
            m_decoder = std::make_unique<StreamDecoder>(m_nextCodePage);
            m_nextCodePage.clear();
            break;
        }
        if (from == bytes.size())
            return text;
        text += m_decoder->decode(bytes.mid(from, 1));
        ++from;
    }
    return text + m_decoder->decode(from == 0 ? bytes : bytes.mid(from));
}

void TerminalSession::setCodePage(const QByteArray& codePage) {
    m_nextCodePage = codePage == m_decoder->codePage() ? QByteArray() : codePage;
    if (!m_nextCodePage.isEmpty())
        decode(QByteArray());
}

void TerminalSession::addConsumer(ReceiveConsumer* consumer) {
    if (consumer &&
        std::find(m_consumers.begin(), m_consumers.end(), consumer) == m_consumers.end())
        m_consumers.push_back(consumer);
}

void TerminalSession::removeConsumer(ReceiveConsumer* consumer) {
    if (consumer == m_takeover)
        m_takeover = nullptr;
    const auto it = std::find(m_consumers.begin(), m_consumers.end(), consumer);
    if (it == m_consumers.end())
        return;
    if (m_dispatching)
        *it = nullptr; // the call in progress skips it; compacted afterwards
    else
        m_consumers.erase(it);
}

template <class Call> void TerminalSession::toConsumers(Call&& call) {
    ++m_dispatching;
    for (size_t i = 0; i < m_consumers.size(); ++i)
        if (ReceiveConsumer* consumer = m_consumers[i])
            call(*consumer);
    if (--m_dispatching == 0)
        m_consumers.erase(std::remove(m_consumers.begin(), m_consumers.end(), nullptr),
                          m_consumers.end());
}

void TerminalSession::receive(const QByteArray& bytes, qint64 readMs) {
    if (bytes.isEmpty())
        return;
    if (m_host.rawLogOpen())
        writeLog(bytes, true);
    if (!readMs)
        readMs = QDateTime::currentMSecsSinceEpoch();
    if (m_takeover) {
        m_takeover->receivedBytes(bytes, readMs);
        return;
    }
    toConsumers([&](ReceiveConsumer& c) { c.receivedBytes(bytes, readMs); });
    if (m_hex) {
        // Consumers still read text; with none, decoding resumes where it was.
        if (!m_consumers.empty()) {
            const QString text = filtered(decode(bytes)).text;
            if (!text.isEmpty())
                toConsumers([&](ReceiveConsumer& c) { c.receivedText(text, readMs); });
        }
        showHex(bytes, readMs);
        return;
    }
    m_rows.skip(bytes.size());
    const StyledText shown = filtered(decode(bytes));
    if (!shown.text.isEmpty())
        toConsumers([&](ReceiveConsumer& c) { c.receivedText(shown.text, readMs); });
    append(shown, readMs);
}

QString TerminalSession::hexLine(const HexRows::Row& row) const {
    return (m_stamps ? stampText(row.readMs) : QString()) + row.text + QStringLiteral("\r\n");
}

// Completed rows are shown and logged; the row being filled is shown after
// them and replaced as it grows.
void TerminalSession::showHex(const QByteArray& bytes, qint64 readMs) {
    QString done;
    if (m_partialShown == 0 && !endsLine(m_term.TextLength()))
        done += QStringLiteral("\r\n");
    for (const HexRows::Row& row : m_rows.add(bytes, readMs))
        done += hexLine(row);
    const HexRows::Row partial = m_rows.partial();
    const QString growing = partial.text.isEmpty() ? QString() : hexLine(partial);

    if (m_scrollback == 0)
        boundContent(m_term);
    const int n = m_term.TextLength();
    m_partialShown = std::min(m_partialShown, n); // a tiny line cap may have taken it
    m_term.setReadTime(readMs);
    m_term.setSelStart(n - m_partialShown);
    if (m_partialShown > 0)
        m_term.setSelLength(m_partialShown);
    m_term.setSelText(done + growing);
    m_partialShown = int(growing.size());
    if (m_host.logOpen() && !done.isEmpty())
        writeLog(encodeText(done, codePage()), false);
    m_term.setSelStart(m_term.TextLength());
    if (m_scrollback > 0)
        m_term.keepLines(m_scrollback);
}

void TerminalSession::endHexRow() {
    const HexRows::Row row = m_rows.endRow();
    if (row.text.isEmpty())
        return;
    // The row is on screen already; only the log is behind.
    m_partialShown = 0;
    if (m_host.logOpen())
        writeLog(encodeText(hexLine(row), codePage()), false);
}

void TerminalSession::setHexView(bool on) {
    if (!on)
        endHexRow();
    m_hex = on;
}

void TerminalSession::portOpened() {
    endHexRow();
    m_rows.restart();
    toConsumers([](ReceiveConsumer& c) { c.portOpened(); });
}

StyledText TerminalSession::filtered(const QString& text) {
    if (!m_interpretEscapes)
        return {text, {}};
    return m_escapes.filter(text);
}

void TerminalSession::setInterpretEscapes(bool on) {
    if (on == m_interpretEscapes)
        return;
    m_interpretEscapes = on;
    const StyledText held = m_escapes.flush();
    m_escapes.reset();
    if (!held.text.isEmpty())
        append(held);
}

void TerminalSession::onComm(ISerialCtl& serial) {
    int code = 0;
    try {
        code = serial.CommEvent();
    } catch (const Failure&) {
        return; // no event to handle
    }

    if (code == CommReceive) {
        QByteArray bytes;
        try {
            bytes = serial.Input();
        } catch (const Failure&) {
            // A lost device is reported by the component itself.
        }
        m_host.bytesReceived(bytes);
        // Each read keeps its own time, so lines read apart keep their stamps.
        forEachRead(bytes, serial.inputReads(), serial.inputReadMs(),
                    [this](const QByteArray& part, qint64 readMs) { receive(part, readMs); });
        return;
    }
    const CommEventText event = commEventText(code);
    if (event.text.isEmpty())
        return;
    m_host.showStatus(StatusPrefix + event.text);
    if (!event.error) {
        m_host.clearStatusSoon();
        return;
    }

    Prompts& prompts = m_host.prompts();
    prompts.beep();
    // The prompt already open answers for a whole burst of errors.
    if (m_promptOpen)
        return;
    m_promptOpen = true;
    const int PromptResult = prompts.messageBox(
        event.text,
        QStringLiteral("中断する場合は [ｷｬﾝｾﾙ] を、無視する場合は [OK] をｸﾘｯｸしてください。"),
        MsgButtons::OKCancel, MsgIcon::None);
    m_promptOpen = false;
    if (PromptResult == AnswerCancel) {
        PendingFailure failure;
        failure.attempt([&] { serial.setPortOpen(false); });
        m_host.refreshConnectionDisplay();
        if (failure.pending())
            prompts.warn(failure.description());
    }
    m_host.clearStatusSoon();
}

void TerminalSession::portClosed(ISerialCtl& serial) {
    takeRestAtClose(serial);
    if (m_takeover)
        m_takeover->portClosed();
    toConsumers([](ReceiveConsumer& c) { c.portClosed(); });
}

void TerminalSession::takeRestAtClose(ISerialCtl& serial) {
    // Received data reaches the window only while RThreshold is at least 1;
    // below that the user chose not to receive, and a close does not undo it.
    qint16 threshold = 0;
    try {
        threshold = serial.RThreshold();
    } catch (const Failure&) {
    }
    if (threshold < 1) {
        m_decoder->reset();
        m_escapes.reset();
        return;
    }
    // What the component still buffers and a character cut short by the close
    // are shown rather than dropped.
    QByteArray rest;
    try {
        rest = serial.Input();
    } catch (const Failure&) {
    }
    if (m_host.rawLogOpen() && !rest.isEmpty())
        writeLog(rest, true);
    const qint64 readMs =
        serial.inputReadMs() ? serial.inputReadMs() : QDateTime::currentMSecsSinceEpoch();
    if (m_takeover) {
        if (!rest.isEmpty())
            m_takeover->receivedBytes(rest, readMs);
        return;
    }
    if (!rest.isEmpty())
        toConsumers([&](ReceiveConsumer& c) { c.receivedBytes(rest, readMs); });
    if (m_hex) {
        showHex(rest, readMs);
        endHexRow();
        m_decoder->reset();
        m_escapes.reset();
        return;
    }
    m_rows.skip(rest.size());
    QString text = decode(rest);
    text += m_decoder->flush();
    StyledText shown = filtered(text);
    // A sequence still open will not end now.
    appendStyled(shown, m_escapes.flush());
    m_escapes.reset();
    if (!shown.text.isEmpty()) {
        toConsumers([&](ReceiveConsumer& c) { c.receivedText(shown.text, readMs); });
        append(shown, readMs);
    }
}

void TerminalSession::keyPress(int& keyCode, ISerialCtl& serial) {
    keyCode = upperKey(keyCode);

    bool open = false;
    try {
        open = serial.PortOpen();
    } catch (const Failure&) {
    }
    if (!open)
        return;
    // A transfer holds the line: a key would land inside its protocol.
    if (m_takeover) {
        keyCode = 0;
        return;
    }

    if (LocalEcho && !LineStarted) {
        LineStarted = true;
        append(QString(QChar(CR)));
    }
    if (LocalEcho && m_partialShown > 0)
        endHexRow();
    // An echoed line is stamped when its first character is typed; typed
    // text is not logged, and neither is its stamp.
    const int length = m_term.TextLength();
    const bool drawn = keyCode == '\t' || (keyCode >= 0x20 && keyCode != 0x7F);
    if (LocalEcho && m_stamps && drawn && m_term.SelStart() == length && endsLine(length))
        m_term.setSelText(stampText(QDateTime::currentMSecsSinceEpoch()));

    if (keyCode == CR) {
        LineBuffer += QChar(CR);
        try {
            serial.setOutput(LineBuffer);
            LineBuffer.clear();
            LineStarted = false;
        } catch (const Failure& failure) {
            // The line stays in the buffer, still open on screen, for the
            // next Enter to send.
            LineBuffer.chop(1);
            m_host.prompts().warn(failure.description());
            keyCode = 0;
        }
    } else if (keyCode == BS) {
        LineBuffer.chop(lastCharWidth(LineBuffer));
    } else {
        LineBuffer += keyText(keyCode);
    }

    if (!LocalEcho) {
        m_term.setSelStart(m_term.TextLength());
        keyCode = 0;
    }
}
