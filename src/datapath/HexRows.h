#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// Received bytes as rows of sixteen:
// "OOOOOOOO  xx xx xx xx xx xx xx xx  xx xx xx xx xx xx xx xx  |cccccccccccccccc|"
// with the offset counted from the port's open. The row being filled is
// shown as it grows and ends early after a silence, so each burst starts a
// row.
class HexRows {
public:
    static constexpr qint64 SilenceMs = 200;

    // One row's text without its line break; fewer than sixteen bytes are
    // padded so the ASCII column stays in place.
    static QString row(quint64 offset, const QByteArray& bytes);

    // Bytes read at `readMs`. Returns the rows completed by them, each with
    // its read time, and leaves the row being filled in partial().
    struct Row {
        QString text;
        qint64 readMs = 0;
    };
    QList<Row> add(const QByteArray& bytes, qint64 readMs);
    // Ends the row being filled (silence, a switch to text, a close); returns
    // it, or an empty row when none was being filled.
    Row endRow();
    // The row being filled, as shown; empty when none.
    Row partial() const;
    bool filling() const { return !m_bytes.isEmpty(); }
    // Counts bytes not shown as rows too, so offsets stay those of the stream.
    void skip(qsizetype count) { m_offset += quint64(count); }
    // The port opened: offsets start at 0.
    void restart();

private:
    quint64 m_offset = 0; // of the row being filled
    QByteArray m_bytes;   // of the row being filled
    qint64 m_firstMs = 0; // its first byte's read time
    qint64 m_lastMs = 0;  // the last byte's read time
};
