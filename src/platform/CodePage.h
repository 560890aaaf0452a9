#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <memory>

struct UConverter;

// The system's multibyte code page: Shift-JIS ("windows-31j") when the
// user's locale is Japanese, otherwise the locale's own character set, and
// UTF-8 in the C/POSIX locale. Read from LC_ALL, LC_CTYPE, LANG in that order.
QByteArray systemCodePage();

// The same rule over given values, so tests can pin it.
QByteArray codePageForLocale(const QByteArray& lcAll, const QByteArray& lcCtype,
                             const QByteArray& lang);

// The character sets the user can choose for the line, as code page names.
inline const QByteArray ShiftJisCodePage = QByteArrayLiteral("windows-31j");
inline const QByteArray Utf8CodePage = QByteArrayLiteral("UTF-8");
inline const QByteArray EucJpCodePage = QByteArrayLiteral("EUC-JP");
inline const QByteArray JisCodePage = QByteArrayLiteral("ISO-2022-JP");

// Each call's bytes stand alone: a stateful set returns to ASCII at the end.
// A character the Japanese sets lack (U+FFFD among them) becomes 〓.
QByteArray encodeText(const QString& text, const QByteArray& codePage);
QString decodeText(const QByteArray& bytes, const QByteArray& codePage);

// Decodes a byte stream chunk by chunk: a character split across two chunks
// is held back until its last byte arrives, and an invalid byte shows as
// U+FFFD. ISO-2022-JP hands terminal control sequences on unchanged in any
// shift state. One per connection.
class StreamDecoder {
public:
    explicit StreamDecoder(const QByteArray& codePage);
    ~StreamDecoder();
    QString decode(const QByteArray& chunk);
    // What is held back, decoded as it is; the decoder starts afresh.
    QString flush();
    void reset();
    // Bytes of a character begun but not complete yet.
    int heldBytes() const;
    const QByteArray& codePage() const { return m_codePage; }

private:
    QString decodeJis(const QByteArray& chunk);

    struct CloseConverter {
        void operator()(UConverter* converter) const;
    };

    QByteArray m_codePage;
    QStringDecoder m_decoder;
    // The Japanese multibyte sets go through ICU itself: the ISO-2022-JP
    // shift state and a cut character live in the converter.
    std::unique_ptr<UConverter, CloseConverter> m_icu;
    // Bytes of an incomplete trailing character, or in ISO-2022-JP of a cut
    // terminal control sequence.
    QByteArray m_held;
};
