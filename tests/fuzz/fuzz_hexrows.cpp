// Any reads at any times: every row keeps its layout, offsets follow on
// without a gap, and the rows read back give exactly the bytes received.
#include "datapath/HexRows.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

namespace {

// Checks one row and appends its bytes; returns the row's byte count.
int readBack(const QString& row, quint64 offset, QByteArray& bytes) {
    // Offset, two spaces, 16 slots of "xx " with a space before each group, "|".
    if (row.size() < 62 || row.at(60) != QLatin1Char('|') || !row.endsWith(QLatin1Char('|')))
        std::abort();
    bool ok = false;
    if (row.left(8).toULongLong(&ok, 16) != (offset & 0xFFFFFFFFu) || !ok)
        std::abort();
    const QString ascii = row.mid(61, row.size() - 62);
    int count = 0;
    for (int slot = 0; slot < 16; ++slot) {
        const QString hex = row.mid(10 + slot * 3 + (slot >= 8 ? 1 : 0), 2);
        if (hex == QLatin1String("  "))
            break;
        const int byte = hex.toInt(&ok, 16);
        if (!ok || hex != hex.toLower())
            std::abort();
        const QChar shown = ascii.at(slot);
        if (shown != ((byte >= 0x20 && byte < 0x7F) ? QChar(byte) : QLatin1Char('.')))
            std::abort();
        bytes += char(byte);
        ++count;
    }
    if (count == 0 || ascii.size() != count)
        std::abort();
    return count;
}

} // namespace

// Input: records of one length byte (its top bit: 300 ms of silence before
// the read), then that many bytes (low 6 bits).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096)
        return 0;
    HexRows rows;
    QByteArray received, shown;
    quint64 offset = 0;
    qint64 now = 0;
    const auto check = [&](const HexRows::Row& row) {
        if (!row.text.isEmpty())
            offset += quint64(readBack(row.text, offset, shown));
    };
    for (size_t i = 0; i < size;) {
        const uint8_t head = data[i++];
        now += (head & 0x80) ? 300 : 1;
        const size_t length = std::min<size_t>(head & 0x3F, size - i);
        const QByteArray bytes(reinterpret_cast<const char*>(data + i), qsizetype(length));
        i += length;
        received += bytes;
        for (const HexRows::Row& row : rows.add(bytes, now)) {
            if (row.readMs > now)
                std::abort();
            check(row);
        }
        if (rows.filling() && rows.partial().text.isEmpty())
            std::abort();
    }
    check(rows.endRow());
    if (shown != received || rows.filling())
        std::abort();
    return 0;
}
