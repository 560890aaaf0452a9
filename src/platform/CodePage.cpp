#include "platform/CodePage.h"

#include <QStringEncoder>
#include <cstdlib>

namespace {

QByteArray envValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? QByteArray(value) : QByteArray();
}

bool isShiftJis(const QByteArray& codePage) {
    const QByteArray lower = codePage.toLower();
    return lower == "windows-31j" || lower == "shift_jis" || lower == "sjis" || lower == "cp932" ||
           lower == "shift-jis";
}

bool isUtf8(const QByteArray& codePage) {
    const QByteArray lower = codePage.toLower();
    return lower == "utf-8" || lower == "utf8";
}

bool isSjisLead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// How many bytes at the end of `bytes` begin a character that is not complete yet.
int incompleteTail(const QByteArray& bytes, const QByteArray& codePage) {
    const int size = int(bytes.size());
    if (isShiftJis(codePage)) {
        int i = 0;
        while (i < size) {
            if (isSjisLead(static_cast<unsigned char>(bytes[i]))) {
                if (i + 1 >= size)
                    return 1;
                i += 2;
            } else {
                ++i;
            }
        }
        return 0;
    }
    if (isUtf8(codePage)) {
        // Look back at most three bytes for a lead byte whose sequence is cut.
        for (int back = 1; back <= 3 && back <= size; ++back) {
            const auto byte = static_cast<unsigned char>(bytes[size - back]);
            if ((byte & 0xC0) == 0x80)
                continue; // continuation byte: keep looking for its lead
            int need = 1;
            if ((byte & 0xE0) == 0xC0)
                need = 2;
            else if ((byte & 0xF0) == 0xE0)
                need = 3;
            else if ((byte & 0xF8) == 0xF0)
                need = 4;
            return need > back ? back : 0;
        }
        return 0;
    }
    return 0;
}

} // namespace

QByteArray codePageForLocale(const QByteArray& lcAll, const QByteArray& lcCtype,
                             const QByteArray& lang) {
    QByteArray locale = !lcAll.isEmpty() ? lcAll : (!lcCtype.isEmpty() ? lcCtype : lang);
    if (locale.startsWith("ja"))
        return QByteArrayLiteral("windows-31j");
    if (locale.isEmpty() || locale == "C" || locale == "POSIX")
        return QByteArrayLiteral("UTF-8");
    const int dot = int(locale.indexOf('.'));
    if (dot < 0)
        return QByteArrayLiteral("UTF-8");
    QByteArray charset = locale.mid(dot + 1);
    const int at = int(charset.indexOf('@'));
    if (at >= 0)
        charset.truncate(at);
    if (charset.isEmpty() || !QStringDecoder(charset.constData()).isValid())
        return QByteArrayLiteral("UTF-8");
    if (isUtf8(charset))
        return QByteArrayLiteral("UTF-8");
    return charset;
}

QByteArray systemCodePage() {
    return codePageForLocale(envValue("LC_ALL"), envValue("LC_CTYPE"), envValue("LANG"));
}

QByteArray encodeText(const QString& text, const QByteArray& codePage) {
    QStringEncoder encoder(codePage.constData());
    if (!encoder.isValid())
        return text.toUtf8();
    return encoder.encode(text);
}

QString decodeText(const QByteArray& bytes, const QByteArray& codePage) {
    QStringDecoder decoder(codePage.constData());
    if (!decoder.isValid())
        return QString::fromUtf8(bytes);
    return decoder.decode(bytes);
}

StreamDecoder::StreamDecoder(const QByteArray& codePage)
    : m_codePage(codePage), m_decoder(codePage.constData()) {
    if (!m_decoder.isValid()) {
        m_codePage = QByteArrayLiteral("UTF-8");
        m_decoder = QStringDecoder(QStringDecoder::Utf8);
    }
}

QString StreamDecoder::decode(const QByteArray& chunk) {
    if (chunk.isEmpty())
        return QString();
    QByteArray bytes = m_held.isEmpty() ? chunk : m_held + chunk;
    const int tail = incompleteTail(bytes, m_codePage);
    m_held = bytes.right(tail);
    bytes.chop(tail);
    // Known code pages are framed here, so the decoder itself never holds
    // bytes back; others rely on the decoder's own state.
    return m_decoder.decode(bytes);
}

QString StreamDecoder::flush() {
    QString text;
    if (!m_held.isEmpty()) {
        // A cut character cannot be decoded; it shows as a replacement mark
        // rather than vanishing.
        text = decodeText(m_held, m_codePage);
        if (text.isEmpty())
            text = QString(QChar::ReplacementCharacter);
    }
    reset();
    return text;
}

void StreamDecoder::reset() {
    m_held.clear();
    m_decoder.resetState();
}
