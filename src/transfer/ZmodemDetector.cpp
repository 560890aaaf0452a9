#include "transfer/ZmodemDetector.h"

const QByteArray ZmodemDetector::request = QByteArrayLiteral("**\x18"
                                                             "B00");

void ZmodemDetector::receivedBytes(const QByteArray& bytes, qint64 readMs) {
    Q_UNUSED(readMs);
    const QByteArray seen = m_tail + bytes;
    const qsizetype at = seen.indexOf(request);
    if (at < 0) {
        m_tail = seen.right(request.size() - 1);
        return;
    }
    m_tail.clear();
    m_found(seen.mid(at));
}
