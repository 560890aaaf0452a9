// Placeholder until the component lands.
#include "serial/SerialCtl.h"

#include "platform/CodePage.h"
#include "platform/Failure.h"

SerialCtl::SerialCtl(QObject* parent) : ISerialCtl(parent) {}
SerialCtl::~SerialCtl() = default;
bool SerialCtl::PortOpen() const { return false; }
void SerialCtl::setPortOpen(bool) { throw Failure(QStringLiteral("未実装")); }
qint16 SerialCtl::CommPort() const { return 1; }
void SerialCtl::setCommPort(qint16) {}
QString SerialCtl::Settings() const { return QStringLiteral("9600,n,8,1"); }
void SerialCtl::setSettings(const QString&) {}
qint32 SerialCtl::Handshaking() const { return 0; }
void SerialCtl::setHandshaking(qint32) {}
qint16 SerialCtl::OutBufferCount() const { return 0; }
void SerialCtl::setOutput(const QString&) {}
QByteArray SerialCtl::Input() { return {}; }
qint16 SerialCtl::CommEvent() const { return 0; }
qint16 SerialCtl::InputLen() const { return 0; }
void SerialCtl::setInputLen(qint16) {}
qint16 SerialCtl::RThreshold() const { return 1; }
void SerialCtl::setRThreshold(qint16) {}
qint16 SerialCtl::SThreshold() const { return 0; }
void SerialCtl::setSThreshold(qint16) {}
QString SerialCtl::ParityReplace() const { return QStringLiteral("?"); }
void SerialCtl::setParityReplace(const QString&) {}
bool SerialCtl::DTREnable() const { return true; }
void SerialCtl::setDTREnable(bool) {}
bool SerialCtl::CTSHolding() const { return false; }
bool SerialCtl::DSRHolding() const { return false; }
QByteArray SerialCtl::codePage() const { return systemCodePage(); }
