// Stamps over any text cut into any chunks: one stamp per line begun, and
// without the stamps the text is as it was.
#include "datapath/LineStamps.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Input: one byte (whether the text begins a line), then UTF-16 units; the
// unit 0xFFFF ends a chunk. Stamps carry U+FFFF, which no chunk holds.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4097)
        return 0;
    QString units(qsizetype((size - 1) / 2), Qt::Uninitialized);
    std::memcpy(units.data(), data + 1, size_t(units.size()) * 2);
    const QString stamp = QStringLiteral("\uFFFF[00:00:00.000] ");
    bool atLineStart = data[0] & 1;
    const bool startedAtLineStart = atLineStart;

    QString stamped;
    for (const QString& chunk : units.split(QChar(0xFFFF)))
        stamped += insertStamps(chunk, stamp, atLineStart);

    const QString text = QString(units).remove(QChar(0xFFFF));
    qsizetype lines = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (i == 0 ? startedAtLineStart : text.at(i - 1) == QChar(10))
            ++lines;
    if (stamped.count(stamp) != lines || QString(stamped).remove(stamp) != text)
        std::abort();
    const bool endsLine = text.isEmpty() ? startedAtLineStart : text.endsWith(QChar(10));
    if (atLineStart != endsLine)
        std::abort();
    if (stampText(0).size() != StampLength)
        std::abort();
    return 0;
}
