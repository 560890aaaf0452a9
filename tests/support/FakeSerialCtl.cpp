#include "FakeSerialCtl.h"

#include "platform/Failure.h"
#include "serial/LineSettings.h"

void FakeSerialCtl::check(const QString& member) const {
    auto* self = const_cast<FakeSerialCtl*>(this);
    if (self->failOn.remove(member))
        throw Failure(member + QStringLiteral(" failed"));
}

bool FakeSerialCtl::PortOpen() const {
    return m_open;
}

void FakeSerialCtl::setPortOpen(bool open) {
    check(QStringLiteral("PortOpen"));
    calls << QStringLiteral("PortOpen=%1").arg(open ? "True" : "False");
    if (open == m_open)
        return;
    if (open && missingPorts.contains(m_port))
        throw Failure(QStringLiteral("COM%1 を開けません").arg(m_port));
    m_open = open;
    if (open)
        m_in.clear(); // as the component: a new connection starts empty
    else
        emit PortClosed();
}

qint16 FakeSerialCtl::CommPort() const {
    check(QStringLiteral("CommPort"));
    return m_port;
}

void FakeSerialCtl::setCommPort(qint16 port) {
    check(QStringLiteral("CommPort"));
    calls << QStringLiteral("CommPort=%1").arg(port);
    if (m_open)
        throw Failure(QStringLiteral("ポートが開いている間は変更できません"));
    if (port < 1 || port > 16)
        throw Failure(QStringLiteral("ポート番号が無効です"));
    m_port = port;
}

QString FakeSerialCtl::Settings() const {
    check(QStringLiteral("Settings"));
    return m_settings;
}

void FakeSerialCtl::setSettings(const QString& settings) {
    check(QStringLiteral("Settings"));
    calls << QStringLiteral("Settings=%1").arg(settings);
    const std::optional<LineSettings> parsed = LineSettings::parse(settings);
    if (!parsed)
        throw Failure(QStringLiteral("設定が無効です"));
    m_settings = parsed->compose();
}

qint32 FakeSerialCtl::Handshaking() const {
    check(QStringLiteral("Handshaking"));
    return m_handshaking;
}

void FakeSerialCtl::setHandshaking(qint32 mode) {
    check(QStringLiteral("Handshaking"));
    calls << QStringLiteral("Handshaking=%1").arg(mode);
    if (mode < 0 || mode > 3)
        throw Failure(QStringLiteral("フロー制御の値が無効です"));
    m_handshaking = mode;
}

qint16 FakeSerialCtl::OutBufferCount() const {
    check(QStringLiteral("OutBufferCount"));
    return pendingOut;
}

void FakeSerialCtl::setOutput(const QString& text) {
    check(QStringLiteral("Output"));
    if (!m_open)
        throw Failure(QStringLiteral("ポートが閉じています"));
    written << text;
}

QByteArray FakeSerialCtl::Input() {
    check(QStringLiteral("Input"));
    QByteArray taken = m_inputLen > 0 ? m_in.left(m_inputLen) : m_in;
    m_in.remove(0, taken.size());
    return taken;
}

qint16 FakeSerialCtl::CommEvent() const {
    check(QStringLiteral("CommEvent"));
    return m_event;
}

qint16 FakeSerialCtl::InputLen() const {
    check(QStringLiteral("InputLen"));
    return m_inputLen;
}

void FakeSerialCtl::setInputLen(qint16 value) {
    check(QStringLiteral("InputLen"));
    calls << QStringLiteral("InputLen=%1").arg(value);
    if (value < 0)
        throw Failure(QStringLiteral("InputLen に負の値は設定できません"));
    m_inputLen = value;
}

qint16 FakeSerialCtl::RThreshold() const {
    check(QStringLiteral("RThreshold"));
    return m_rthreshold;
}

void FakeSerialCtl::setRThreshold(qint16 value) {
    check(QStringLiteral("RThreshold"));
    calls << QStringLiteral("RThreshold=%1").arg(value);
    if (value < 0)
        throw Failure(QStringLiteral("RThreshold に負の値は設定できません"));
    m_rthreshold = value;
}

qint16 FakeSerialCtl::SThreshold() const {
    check(QStringLiteral("SThreshold"));
    return m_sthreshold;
}

void FakeSerialCtl::setSThreshold(qint16 value) {
    check(QStringLiteral("SThreshold"));
    calls << QStringLiteral("SThreshold=%1").arg(value);
    if (value < 0)
        throw Failure(QStringLiteral("SThreshold に負の値は設定できません"));
    m_sthreshold = value;
}

QString FakeSerialCtl::ParityReplace() const {
    check(QStringLiteral("ParityReplace"));
    return m_parityReplace;
}

void FakeSerialCtl::setParityReplace(const QString& value) {
    check(QStringLiteral("ParityReplace"));
    calls << QStringLiteral("ParityReplace=%1").arg(value);
    m_parityReplace = value.left(1);
}

bool FakeSerialCtl::DTREnable() const {
    check(QStringLiteral("DTREnable"));
    return m_dtr;
}

void FakeSerialCtl::setDTREnable(bool enable) {
    check(QStringLiteral("DTREnable"));
    calls << QStringLiteral("DTREnable=%1").arg(enable ? "True" : "False");
    m_dtr = enable;
}

bool FakeSerialCtl::CTSHolding() const {
    check(QStringLiteral("CTSHolding"));
    return m_open && cts;
}

bool FakeSerialCtl::DSRHolding() const {
    check(QStringLiteral("DSRHolding"));
    return m_open && dsr;
}

void FakeSerialCtl::receive(const QByteArray& bytes) {
    m_in += bytes;
    if (m_rthreshold >= 1 && m_in.size() >= m_rthreshold)
        raise(CommReceive);
}

void FakeSerialCtl::raise(int code) {
    m_event = qint16(code);
    emit OnComm();
}

void FakeSerialCtl::loseDevice(const QString& description) {
    m_open = false;
    emit PortClosed();
    emit DeviceLost(description);
}
