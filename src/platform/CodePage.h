#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

// The system's multibyte code page: Shift-JIS ("windows-31j") when the
// user's locale is Japanese, otherwise the locale's own character set, and
// UTF-8 in the C/POSIX locale. Read from LC_ALL, LC_CTYPE, LANG in that order.
QByteArray systemCodePage();

// The same rule over given values, so tests can pin it.
QByteArray codePageForLocale(const QByteArray& lcAll, const QByteArray& lcCtype,
                             const QByteArray& lang);

QByteArray encodeText(const QString& text, const QByteArray& codePage);
QString decodeText(const QByteArray& bytes, const QByteArray& codePage);

// Decodes a byte stream chunk by chunk: a character split across two chunks
// is held back until its last byte arrives. One per connection.
class StreamDecoder {
public:
    explicit StreamDecoder(const QByteArray& codePage);
    QString decode(const QByteArray& chunk);
    // What is held back, decoded as it is; the decoder starts afresh.
    QString flush();
    void reset();
    const QByteArray& codePage() const { return m_codePage; }

private:
    QByteArray m_codePage;
    QStringDecoder m_decoder;
    QByteArray m_held; // bytes of an incomplete trailing character
};
