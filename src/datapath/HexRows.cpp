#include "datapath/HexRows.h"

#include <algorithm>

namespace {

constexpr int RowBytes = 16;
const char digits[] = "0123456789abcdef";

} // namespace

QString HexRows::row(quint64 offset, const QByteArray& bytes) {
    QByteArray text = QByteArray::number(offset & 0xFFFFFFFFu, 16).rightJustified(8, '0');
    text += ' ';
    for (int i = 0; i < RowBytes; ++i) {
        if (i % 8 == 0)
            text += ' ';
        if (i < bytes.size()) {
            const auto byte = static_cast<unsigned char>(bytes.at(i));
            text += digits[byte >> 4];
            text += digits[byte & 15];
        } else {
            text += "  ";
        }
        text += ' ';
    }
    text += " |";
    for (const char ch : bytes)
        text += (ch >= 0x20 && ch < 0x7F) ? ch : '.';
    text += '|';
    return QString::fromLatin1(text);
}

QList<HexRows::Row> HexRows::add(const QByteArray& bytes, qint64 readMs) {
    QList<Row> done;
    if (bytes.isEmpty())
        return done;
    if (filling() && readMs - m_lastMs >= SilenceMs)
        done << endRow();
    for (qsizetype i = 0; i < bytes.size();) {
        if (!filling())
            m_firstMs = readMs;
        const qsizetype take = std::min<qsizetype>(RowBytes - m_bytes.size(), bytes.size() - i);
        m_bytes += bytes.mid(i, take);
        i += take;
        if (m_bytes.size() == RowBytes)
            done << endRow();
    }
    m_lastMs = readMs;
    return done;
}

HexRows::Row HexRows::endRow() {
    if (!filling())
        return {};
    const Row ended = partial();
    m_offset += quint64(m_bytes.size());
    m_bytes.clear();
    return ended;
}

HexRows::Row HexRows::partial() const {
    if (!filling())
        return {};
    return {row(m_offset, m_bytes), m_firstMs};
}

void HexRows::restart() {
    m_offset = 0;
    m_bytes.clear();
}
