#include "platform/CodePage.h"

#include <QStringEncoder>
#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <utility>

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

bool isJapaneseMultibyte(const QByteArray& codePage) {
    const QByteArray lower = codePage.toLower();
    return isShiftJis(codePage) || lower == "euc-jp" || lower == "iso-2022-jp";
}

// ICU's own substitute for an invalid byte is U+001A in these sets, which
// the terminal does not show: the byte would vanish.
void toReplacementCharacter(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                            UConverterCallbackReason reason, UErrorCode* error) {
    if (reason > UCNV_IRREGULAR)
        return;
    static const UChar replacement = 0xFFFD;
    *error = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, error);
}

// ICU's own substitute in these sets is FC FC (Shift_JIS) or a byte
// pair other decoders reject; the customary mark is 〓, which all three have.
void toGeta(const void*, UConverterFromUnicodeArgs* args, const UChar*, int32_t, UChar32,
            UConverterCallbackReason reason, UErrorCode* error) {
    if (reason > UCNV_IRREGULAR)
        return;
    static const UChar geta[] = {0x3013};
    const UChar* source = geta;
    *error = U_ZERO_ERROR;
    ucnv_cbFromUWriteUChars(args, &source, geta + 1, 0, error);
}

UConverter* openConverter(const QByteArray& codePage) {
    UErrorCode error = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(codePage.constData(), &error);
    if (U_FAILURE(error))
        return nullptr;
    ucnv_setToUCallBack(converter, toReplacementCharacter, nullptr, nullptr, nullptr, &error);
    ucnv_setFromUCallBack(converter, toGeta, nullptr, nullptr, nullptr, &error);
    return converter;
}

// Appends `text` through the converter, which ends in ASCII; false when it fails.
bool icuEncode(UConverter* converter, const QString& text, QByteArray& out) {
    QByteArray bytes(text.size() * 4 + 8, Qt::Uninitialized);
    UErrorCode error = U_ZERO_ERROR;
    const auto convert = [&] {
        return ucnv_fromUChars(converter, bytes.data(), int32_t(bytes.size()),
                               reinterpret_cast<const UChar*>(text.constData()),
                               int32_t(text.size()), &error);
    };
    int32_t length = convert();
    if (error == U_BUFFER_OVERFLOW_ERROR) {
        // ISO-2022-JP's shifts can take more than four bytes a character.
        bytes.resize(length);
        error = U_ZERO_ERROR;
        length = convert();
    }
    if (U_FAILURE(error))
        return false;
    out += bytes.left(length);
    return true;
}

// The end of a terminal control sequence (ESC [ …, ESC 7) that starts at
// `esc` in ISO-2022-JP bytes: 0 for a designation, which is the converter's,
// -1 when the bytes end before the sequence does.
qsizetype terminalSequenceEnd(const QByteArray& bytes, qsizetype esc) {
    constexpr qsizetype longest = 64;
    if (esc + 1 >= bytes.size())
        return -1;
    const char next = bytes[esc + 1];
    if (next == '(' || next == '$')
        return 0;
    if (next < 0x20 || next > 0x7E)
        return esc + 1;
    if (next != '[')
        return esc + 2;
    const qsizetype last = std::min(bytes.size(), esc + longest);
    for (qsizetype k = esc + 2; k < last; ++k) {
        const char c = bytes[k];
        if (c >= 0x40 && c <= 0x7E)
            return k + 1;
        if (c < 0x20 || c > 0x3F)
            return k;
    }
    return last == esc + longest ? last : -1;
}

// Decodes with ICU; `flush` ends the stream, showing a cut character.
QString icuDecode(UConverter* converter, const QByteArray& bytes, bool flush) {
    // Each byte gives at most one unit, plus what the converter held before.
    QString text(bytes.size() + 8, Qt::Uninitialized);
    const char* source = bytes.constData();
    const char* const sourceEnd = source + bytes.size();
    auto* const begin = reinterpret_cast<UChar*>(text.data());
    UChar* target = begin;
    for (;;) {
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &target, begin + text.size(), &source, sourceEnd, nullptr, flush,
                       &error);
        if (error != U_BUFFER_OVERFLOW_ERROR)
            break;
        const qsizetype used = target - reinterpret_cast<UChar*>(text.data());
        text.resize(text.size() * 2);
        target = reinterpret_cast<UChar*>(text.data()) + used;
    }
    text.truncate(target - reinterpret_cast<UChar*>(text.data()));
    return text;
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
    if (isJapaneseMultibyte(codePage)) {
        if (UConverter* converter = openConverter(codePage)) {
            // ISO-2022-JP has no ESC of its own: a terminal sequence goes
            // out as it is, in ASCII, as it came in.
            const QStringList pieces =
                codePage.toLower() == "iso-2022-jp" ? text.split(QChar(0x1B)) : QStringList{text};
            QByteArray bytes;
            bool encoded = true;
            for (qsizetype i = 0; encoded && i < pieces.size(); ++i) {
                if (i > 0)
                    bytes += '\x1b';
                encoded = icuEncode(converter, pieces[i], bytes);
            }
            ucnv_close(converter);
            if (encoded)
                return bytes;
        }
    }
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

void StreamDecoder::CloseConverter::operator()(UConverter* converter) const {
    ucnv_close(converter);
}

StreamDecoder::StreamDecoder(const QByteArray& codePage)
    : m_codePage(codePage), m_decoder(codePage.constData()) {
    if (isJapaneseMultibyte(codePage))
        m_icu.reset(openConverter(codePage));
    if (!m_icu && !m_decoder.isValid()) {
        m_codePage = QByteArrayLiteral("UTF-8");
        m_decoder = QStringDecoder(QStringDecoder::Utf8);
    }
}

StreamDecoder::~StreamDecoder() = default;

QString StreamDecoder::decode(const QByteArray& chunk) {
    if (chunk.isEmpty())
        return QString();
    if (m_icu && m_codePage.toLower() == "iso-2022-jp")
        return decodeJis(chunk);
    if (m_icu)
        return icuDecode(m_icu.get(), chunk, false);
    QByteArray bytes = m_held.isEmpty() ? chunk : m_held + chunk;
    const int tail = incompleteTail(bytes, m_codePage);
    m_held = bytes.right(tail);
    bytes.chop(tail);
    // Known code pages are framed here, so the decoder itself never holds
    // bytes back; others rely on the decoder's own state.
    return m_decoder.decode(bytes);
}

// Terminal control sequences go round the converter as they are, so they
// reach the escape filter whatever the shift state, and the state stays.
QString StreamDecoder::decodeJis(const QByteArray& chunk) {
    const QByteArray bytes = std::exchange(m_held, QByteArray()) + chunk;
    QString text;
    qsizetype from = 0;
    for (qsizetype esc = bytes.indexOf('\x1b'); esc >= 0; esc = bytes.indexOf('\x1b', esc)) {
        const qsizetype end = terminalSequenceEnd(bytes, esc);
        if (end == 0) {
            ++esc;
            continue;
        }
        text += icuDecode(m_icu.get(), bytes.mid(from, esc - from), false);
        if (end < 0) {
            m_held = bytes.mid(esc);
            return text;
        }
        text += QString::fromLatin1(bytes.mid(esc, end - esc));
        from = esc = end;
    }
    return text + icuDecode(m_icu.get(), bytes.mid(from), false);
}

QString StreamDecoder::flush() {
    if (m_icu) {
        const QString text =
            icuDecode(m_icu.get(), QByteArray(), true) + QString::fromLatin1(m_held);
        reset();
        return text;
    }
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
    if (m_icu)
        ucnv_resetToUnicode(m_icu.get());
}

int StreamDecoder::heldBytes() const {
    if (!m_icu)
        return int(m_held.size());
    UErrorCode error = U_ZERO_ERROR;
    const int32_t held = ucnv_toUCountPending(m_icu.get(), &error);
    return int(m_held.size()) + (U_SUCCESS(error) ? held : 0);
}
