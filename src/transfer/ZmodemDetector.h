#pragma once

#include "datapath/ReceiveConsumer.h"

#include <QByteArray>
#include <functional>

// Watches received bytes for a device starting a ZMODEM send (its request to
// begin, "**" ZDLE "B00", among ordinary text) and reports it once with the
// bytes from that request on, so a receiver can take over from there.
class ZmodemDetector : public ReceiveConsumer {
public:
    explicit ZmodemDetector(std::function<void(const QByteArray&)> found)
        : m_found(std::move(found)) {}

    void receivedBytes(const QByteArray& bytes, qint64 readMs) override;
    void portClosed() override { m_tail.clear(); }

    static const QByteArray request;

private:
    std::function<void(const QByteArray&)> m_found;
    QByteArray m_tail; // the end of the last read, for a request cut in two
};
