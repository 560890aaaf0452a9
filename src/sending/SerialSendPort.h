#pragma once

#include "sending/SendEngine.h"

class ISerialCtl;

// The open port as a send's destination: bytes go out unchanged, past the
// code page, and a port that cannot say what it holds reports nothing.
class SerialSendPort : public SendPort {
public:
    explicit SerialSendPort(ISerialCtl& serial) : m_serial(serial) {}
    void write(const QByteArray& bytes) override;
    int pending() const override;
    void discard() override;

protected:
    ISerialCtl& m_serial;
};
