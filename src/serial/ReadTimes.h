#pragma once

#include <QByteArray>
#include <QVector>
#include <deque>
#include <utility>

// Bytes read at one time, in ms since the epoch.
struct ReadSpan {
    long bytes = 0;
    qint64 ms = 0;
    bool operator==(const ReadSpan& other) const { return bytes == other.bytes && ms == other.ms; }
};
using ReadSpans = QVector<ReadSpan>;

// When the bytes of a queue were read: spans of bytes with their read time,
// in queue order, so a timestamp is the reader's and not the moment the
// window got round to the bytes. Reads within one millisecond make one span:
// no stamp could tell them apart.
class ReadTimes {
public:
    void add(long count, qint64 ms);
    // The spans of the first `count` bytes, then forgotten here; bytes with
    // no known time are left out.
    ReadSpans take(long count);
    void clear() { m_spans.clear(); }

private:
    std::deque<ReadSpan> m_spans;
};

// Calls `piece(bytes, ms)` for each part of `bytes` read at one time; bytes
// past the spans go with the last one, or with `fallbackMs` when none is known.
template <class Piece>
void forEachRead(const QByteArray& bytes, const ReadSpans& spans, qint64 fallbackMs,
                 Piece&& piece) {
    qsizetype at = 0;
    for (qsizetype i = 0; i < spans.size() && at < bytes.size(); ++i) {
        const qsizetype size = i + 1 == spans.size() ? bytes.size() - at : spans[i].bytes;
        piece(bytes.mid(at, size), spans[i].ms);
        at += size;
    }
    if (at < bytes.size() || bytes.isEmpty())
        piece(bytes.mid(at), fallbackMs);
}
