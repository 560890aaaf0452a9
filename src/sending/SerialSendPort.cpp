#include "sending/SerialSendPort.h"

#include "platform/Failure.h"
#include "serial/ISerialCtl.h"

void SerialSendPort::write(const QByteArray& bytes) {
    m_serial.setOutputBytes(bytes);
}

int SerialSendPort::pending() const {
    try {
        return m_serial.OutBufferCount();
    } catch (const Failure&) {
        return 0;
    }
}

void SerialSendPort::discard() {
    try {
        m_serial.discardOutput();
    } catch (const Failure&) {
    }
}
