#include "TestSerial.h"

#include "platform/Failure.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

namespace {

// Links com1 .. com16 to the fake devices, in a configuration folder of the
// test's own.
void linkFakePorts() {
    static QTemporaryDir config;
    static bool linked = false;
    if (linked)
        return;
    linked = true;
    const QString ports = config.path() + QStringLiteral("/velmora/ports");
    QDir().mkpath(ports);
    for (int port = 1; port <= 16; ++port)
        QFile::link(TestSerial::devicePath(port), ports + QStringLiteral("/com%1").arg(port));
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
}

} // namespace

TestSerial::TestSerial(const QByteArray& codePage) : TestSerial(new FakeSerialBackend, codePage) {}

// The links are in place before the component reads where they are.
TestSerial::TestSerial(FakeSerialBackend* backend, const QByteArray& codePage)
    : SerialCtl((linkFakePorts(), std::unique_ptr<SerialBackend>(backend))), line(*backend) {
    setCodePage(codePage);
}

QString TestSerial::devicePath(int port) {
    return QStringLiteral("/dev/fake-com%1").arg(port);
}

void TestSerial::setMissing(int port, bool missing) {
    line.missing.removeAll(devicePath(port));
    if (missing)
        line.missing << devicePath(port);
}

void TestSerial::receive(const QByteArray& bytes) {
    line.feed(bytes);
    settle();
}

void TestSerial::settle() {
    QDeadlineTimer deadline(10000);
    while (!line.drained() && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
}

void TestSerial::check(const QString& member) const {
    auto* self = const_cast<TestSerial*>(this);
    if (self->failOn.remove(member))
        throw Failure(member + QStringLiteral(" failed"));
}

bool TestSerial::PortOpen() const {
    return SerialCtl::PortOpen();
}

void TestSerial::setPortOpen(bool open) {
    check(QStringLiteral("PortOpen"));
    calls << QStringLiteral("PortOpen=") + QLatin1String(open ? "True" : "False");
    SerialCtl::setPortOpen(open);
}

qint16 TestSerial::CommPort() const {
    check(QStringLiteral("CommPort"));
    return SerialCtl::CommPort();
}

void TestSerial::setCommPort(qint16 port) {
    check(QStringLiteral("CommPort"));
    calls << QStringLiteral("CommPort=") + QString::number(port);
    SerialCtl::setCommPort(port);
}

QString TestSerial::Settings() const {
    check(QStringLiteral("Settings"));
    return SerialCtl::Settings();
}

void TestSerial::setSettings(const QString& settings) {
    check(QStringLiteral("Settings"));
    calls << QStringLiteral("Settings=") + settings;
    SerialCtl::setSettings(settings);
}

qint32 TestSerial::Handshaking() const {
    check(QStringLiteral("Handshaking"));
    return SerialCtl::Handshaking();
}

void TestSerial::setHandshaking(qint32 mode) {
    check(QStringLiteral("Handshaking"));
    calls << QStringLiteral("Handshaking=") + QString::number(mode);
    SerialCtl::setHandshaking(mode);
}

qint16 TestSerial::InputLen() const {
    check(QStringLiteral("InputLen"));
    return SerialCtl::InputLen();
}

void TestSerial::setInputLen(qint16 value) {
    check(QStringLiteral("InputLen"));
    calls << QStringLiteral("InputLen=") + QString::number(value);
    SerialCtl::setInputLen(value);
}

qint16 TestSerial::RThreshold() const {
    check(QStringLiteral("RThreshold"));
    return SerialCtl::RThreshold();
}

void TestSerial::setRThreshold(qint16 value) {
    check(QStringLiteral("RThreshold"));
    calls << QStringLiteral("RThreshold=") + QString::number(value);
    SerialCtl::setRThreshold(value);
}

qint16 TestSerial::SThreshold() const {
    check(QStringLiteral("SThreshold"));
    return SerialCtl::SThreshold();
}

void TestSerial::setSThreshold(qint16 value) {
    check(QStringLiteral("SThreshold"));
    calls << QStringLiteral("SThreshold=") + QString::number(value);
    SerialCtl::setSThreshold(value);
}

QString TestSerial::ParityReplace() const {
    check(QStringLiteral("ParityReplace"));
    return SerialCtl::ParityReplace();
}

void TestSerial::setParityReplace(const QString& value) {
    check(QStringLiteral("ParityReplace"));
    calls << QStringLiteral("ParityReplace=") + value;
    SerialCtl::setParityReplace(value);
}

bool TestSerial::DTREnable() const {
    check(QStringLiteral("DTREnable"));
    return SerialCtl::DTREnable();
}

void TestSerial::setDTREnable(bool enable) {
    check(QStringLiteral("DTREnable"));
    calls << QStringLiteral("DTREnable=") + QLatin1String(enable ? "True" : "False");
    SerialCtl::setDTREnable(enable);
}

qint16 TestSerial::OutBufferCount() const {
    check(QStringLiteral("OutBufferCount"));
    return SerialCtl::OutBufferCount();
}

qint16 TestSerial::CommEvent() const {
    check(QStringLiteral("CommEvent"));
    return SerialCtl::CommEvent();
}

bool TestSerial::CTSHolding() const {
    check(QStringLiteral("CTSHolding"));
    return SerialCtl::CTSHolding();
}

bool TestSerial::DSRHolding() const {
    check(QStringLiteral("DSRHolding"));
    return SerialCtl::DSRHolding();
}

void TestSerial::setOutput(const QString& text) {
    check(QStringLiteral("Output"));
    SerialCtl::setOutput(text);
    written << text;
}

QByteArray TestSerial::Input() {
    check(QStringLiteral("Input"));
    return SerialCtl::Input();
}
