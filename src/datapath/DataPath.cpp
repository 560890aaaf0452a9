#include "datapath/DataPath.h"

#include "datapath/TextTarget.h"
#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "serial/ISerialCtl.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int SizeLimit = 16000;
constexpr int TrimAmount = 4096;
constexpr char16_t BS = 8, LF = 10, CR = 13;

const QString StatusPrefix = QStringLiteral("ｽﾃｰﾀｽ: ");

// Units the last character of `text` takes: 2 for a surrogate pair, so an
// erase never leaves half a character behind.
int lastCharWidth(const QString& text) {
    const qsizetype n = text.size();
    if (n >= 2 && text.at(n - 1).isLowSurrogate() && text.at(n - 2).isHighSurrogate())
        return 2;
    return n > 0 ? 1 : 0;
}

// Whether none of the 16 units at `p` is at or below CR. Most of a flood is
// printable text, and this is the one pass over every character received.
bool noLowControls(const char16_t* p) {
#if defined(__SSE2__)
    // x - CR saturates to 0 exactly for the units at or below CR.
    const __m128i cr = _mm_set1_epi16(CR);
    const __m128i zero = _mm_setzero_si128();
    const __m128i a = _mm_subs_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), cr);
    const __m128i b = _mm_subs_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), cr);
    return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero))) == 0;
#else
    return std::all_of(p, p + 16, [](char16_t ch) { return ch > CR; });
#endif
}

// Usual case: no backspace and every break already a CR LF pair.
bool needsEditing(const QString& data) {
    const auto* chars = reinterpret_cast<const char16_t*>(data.constData());
    const qsizetype size = data.size();
    qsizetype i = 0;
    while (i < size) {
        while (i + 16 <= size && noLowControls(chars + i))
            i += 16;
        for (const qsizetype stop = std::min(i + 16, size); i < stop; ++i) {
            const char16_t ch = chars[i];
            if (ch == CR && i + 1 < size && chars[i + 1] == LF)
                ++i;
            else if (ch == BS || ch == CR || ch == LF)
                return true;
        }
    }
    return false;
}

// Backspaces, then line feeds and carriage returns. A backspace erases the
// chunk's own previous character; one with nothing before it in the chunk
// reports `leadingBackspace` instead.
QString editForControl(const QString& data, bool& leadingBackspace) {
    leadingBackspace = false;
    if (!needsEditing(data))
        return data;

    QString erased;
    erased.reserve(data.size());
    for (const QChar ch : data) {
        if (ch.unicode() != BS) {
            erased.append(ch);
        } else if (erased.isEmpty()) {
            leadingBackspace = true;
        } else {
            erased.chop(lastCharWidth(erased));
        }
    }
    QString edited;
    edited.reserve(erased.size() + erased.size() / 8 + 2);
    for (const QChar ch : erased) {
        if (ch.unicode() == LF)
            continue;
        edited.append(ch);
        if (ch.unicode() == CR)
            edited.append(QChar(LF));
    }
    return edited;
}

// Drops whole trim amounts from the front until the content is within the
// limit: one drop per call would let chunks longer than the trim amount grow
// the content without bound.
void boundContent(TextTarget& term) {
    const int n = term.TextLength();
    if (n <= SizeLimit)
        return;
    int cut = ((n - SizeLimit + TrimAmount - 1) / TrimAmount) * TrimAmount;
    if (cut < n && term.charAt(cut).isLowSurrogate() && term.charAt(cut - 1).isHighSurrogate())
        ++cut;
    term.removeFront(cut);
}

void writeLog(const QByteArray& bytes, DataPathHost& host) {
    if (host.logRetry.active) {
        host.logRetry.queued += bytes;
        return;
    }
    QByteArray pending = bytes;
    QString error;
    host.logRetry.active = true;
    for (;;) {
        qsizetype written = 0;
        const bool done = host.writeLog(pending, &error, &written);
        // What reached the log before a failure is not written again.
        pending.remove(0, written);
        if (done) {
            if (host.logRetry.queued.isEmpty())
                break;
            pending = host.logRetry.queued;
            host.logRetry.queued.clear();
            continue;
        }
        const int answer = host.prompts().messageBox(error, appTitle(), MsgButtons::RetryCancel,
                                                     MsgIcon::Critical);
        if (answer != AnswerRetry) {
            host.logRetry = LogRetry();
            host.mnuCloseLog_Click();
            return;
        }
    }
    host.logRetry = LogRetry();
}

// Code point of a key code as text; empty for codes that are no character.
QString keyText(int keyCode) {
    const auto code = char32_t(keyCode);
    if (keyCode <= 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return QString();
    return QString::fromUcs4(&code, 1);
}

int upperKey(int keyCode) {
    const QString key = keyText(keyCode);
    if (key.isEmpty())
        return keyCode;
    const QString upper = key.toUpper();
    const QList<uint> codes = upper.toUcs4();
    return codes.size() == 1 ? int(codes.first()) : keyCode;
}

} // namespace

void AppendToTerminal(TextTarget& term, QString data, DataPathHost& host,
                      const QByteArray& codePage) {
    boundContent(term);
    const int n = term.TextLength();

    bool leadingBackspace = false;
    data = editForControl(data, leadingBackspace);

    // A leading backspace selects the content's last character; with no
    // content there is nothing to erase.
    int width = 0;
    if (leadingBackspace && n > 0) {
        width = 1;
        if (n >= 2 && term.charAt(n - 1).isLowSurrogate() && term.charAt(n - 2).isHighSurrogate())
            width = 2;
    }
    term.setSelStart(n - width);
    if (width > 0)
        term.setSelLength(width);
    term.setSelText(data);

    if (host.LogFileNumber() != 0 && !data.isEmpty())
        writeLog(encodeText(data, codePage), host);

    term.setSelStart(term.TextLength());
}

CommEventHandler::CommEventHandler(ISerialCtl& serial, TextTarget& term, DataPathHost& host)
    : m_serial(serial), m_term(term), m_host(host), m_decoder(serial.codePage()) {}

void CommEventHandler::SerialCtl1_OnComm() {
    int code = 0;
    try {
        code = m_serial.CommEvent();
    } catch (const Failure&) {
        return; // no event to handle
    }

    QString eventText;
    QString errorText;
    switch (code) {
    case CommReceive: {
        QByteArray bytes;
        try {
            bytes = m_serial.Input();
        } catch (const Failure&) {
            // A lost device is reported by the component itself.
        }
        m_host.bytesReceived(bytes);
        AppendToTerminal(m_term, m_decoder.decode(bytes), m_host, m_decoder.codePage());
        break;
    }
    case CommSend:
        break;
    case CommCTS:
        eventText = QStringLiteral("CTS ﾗｲﾝの状態が変化しました。");
        break;
    case CommDSR:
        eventText = QStringLiteral("DSR ﾗｲﾝの状態が変化しました。");
        break;
    case CommCD:
        eventText = QStringLiteral("CD ﾗｲﾝの状態が変化しました。");
        break;
    case CommRing:
        eventText = QStringLiteral("呼び出し信号を検出しました。");
        break;
    case CommEOF:
        eventText = QStringLiteral("EOF を受信しました。");
        break;
    case CommErrorBreak:
        errorText = QStringLiteral("ﾌﾞﾚｰｸ信号を検出しました。");
        break;
    case CommErrorCTSTimeout:
        errorText = QStringLiteral("CTS ﾀｲﾑｱｳﾄを検出しました。");
        break;
    case CommErrorDSRTimeout:
        errorText = QStringLiteral("DSR ﾀｲﾑｱｳﾄを検出しました。");
        break;
    case CommErrorFraming:
        errorText = QStringLiteral("ﾌﾚｰﾐﾝｸﾞ ｴﾗｰが発生しました。");
        break;
    case CommErrorOverrun:
        errorText = QStringLiteral("ｵｰﾊﾞｰﾗﾝ ｴﾗｰが発生しました。");
        break;
    case CommErrorCDTimeout:
        errorText = QStringLiteral("CD ﾀｲﾑｱｳﾄを検出しました。");
        break;
    case CommErrorRxOverflow:
        errorText = QStringLiteral("受信ﾊﾞｯﾌｧがｵｰﾊﾞｰﾌﾛｰしました。");
        break;
    case CommErrorParity:
        errorText = QStringLiteral("ﾊﾟﾘﾃｨ ｴﾗｰが発生しました。");
        break;
    case CommErrorTxFull:
        errorText = QStringLiteral("送信ﾊﾞｯﾌｧ ﾌﾙ ｴﾗｰが発生しました。");
        break;
    case CommErrorConfig:
        errorText = QStringLiteral("DCB 取得時にｴﾗｰが発生しました。");
        break;
    default:
        errorText = QStringLiteral("未定義のｴﾗｰまたはｲﾍﾞﾝﾄが発生しました。");
        break;
    }

    if (!eventText.isEmpty()) {
        m_host.setStatusText(StatusPrefix + eventText);
        m_host.enableTimer2();
        return;
    }
    if (errorText.isEmpty())
        return;

    m_host.setStatusText(StatusPrefix + errorText);
    Prompts& prompts = m_host.prompts();
    prompts.beep();
    // The prompt already open answers for a whole burst of errors.
    if (m_promptOpen)
        return;
    m_promptOpen = true;
    const int PromptResult = prompts.messageBox(
        errorText,
        QStringLiteral("中断する場合は [ｷｬﾝｾﾙ] を、無視する場合は [OK] をｸﾘｯｸしてください。"),
        MsgButtons::OKCancel, MsgIcon::None);
    m_promptOpen = false;
    if (PromptResult == AnswerCancel) {
        PendingFailure failure;
        failure.attempt([&] { m_serial.setPortOpen(false); });
        m_host.refreshConnectionDisplay();
        if (failure.pending())
            prompts.warn(failure.description());
    }
    m_host.enableTimer2();
}

void CommEventHandler::portClosed() {
    // Received data reaches the window only while RThreshold is at least 1;
    // below that the user chose not to receive, and a close does not undo it.
    qint16 threshold = 0;
    try {
        threshold = m_serial.RThreshold();
    } catch (const Failure&) {
    }
    if (threshold < 1) {
        m_decoder.reset();
        return;
    }
    // What the component still buffers and a character cut short by the close
    // are shown rather than dropped.
    QByteArray rest;
    try {
        rest = m_serial.Input();
    } catch (const Failure&) {
    }
    QString text = m_decoder.decode(rest);
    text += m_decoder.flush();
    if (!text.isEmpty())
        AppendToTerminal(m_term, text, m_host, m_decoder.codePage());
}

void TerminalKeyPress(int& keyCode, QString& LineBuffer, bool& LineStarted, ISerialCtl& serial,
                      TextTarget& term, DataPathHost& host) {
    keyCode = upperKey(keyCode);

    bool open = false;
    try {
        open = serial.PortOpen();
    } catch (const Failure&) {
    }
    if (!open)
        return;

    if (host.LocalEcho && !LineStarted) {
        LineStarted = true;
        AppendToTerminal(term, QString(QChar(CR)), host, serial.codePage());
    }

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
            host.prompts().warn(failure.description());
            keyCode = 0;
        }
    } else if (keyCode == BS) {
        LineBuffer.chop(lastCharWidth(LineBuffer));
    } else {
        LineBuffer += keyText(keyCode);
    }

    if (!host.LocalEcho) {
        term.setSelStart(term.TextLength());
        keyCode = 0;
    }
}
