#pragma once

#include "serial/ISerialCtl.h"

#include <QSet>
#include <QStringList>

// An in-memory stand-in for the serial component: properties behave as the
// real component's do (starting values, refusals), the line is scripted.
// `failOn` names members whose next get or set throws Failure("<name> failed").
class FakeSerialCtl : public ISerialCtl {
    Q_OBJECT
public:
    using ISerialCtl::ISerialCtl;

    bool PortOpen() const override;
    void setPortOpen(bool open) override;
    qint16 CommPort() const override;
    void setCommPort(qint16 port) override;
    QString Settings() const override;
    void setSettings(const QString& settings) override;
    qint32 Handshaking() const override;
    void setHandshaking(qint32 mode) override;
    qint16 OutBufferCount() const override;
    void setOutput(const QString& text) override;
    QByteArray Input() override;
    qint16 CommEvent() const override;
    qint16 InputLen() const override;
    void setInputLen(qint16 value) override;
    qint16 RThreshold() const override;
    void setRThreshold(qint16 value) override;
    qint16 SThreshold() const override;
    void setSThreshold(qint16 value) override;
    QString ParityReplace() const override;
    void setParityReplace(const QString& value) override;
    bool DTREnable() const override;
    void setDTREnable(bool enable) override;
    bool CTSHolding() const override;
    bool DSRHolding() const override;
    QByteArray codePage() const override { return m_codePage; }

    // Scripting the line.
    void receive(const QByteArray& bytes); // buffers and raises event 2
    void raise(int code);                  // sets CommEvent and raises OnComm
    void loseDevice(const QString& description);

    QSet<QString> failOn;      // members that throw on their next use
    QSet<qint16> missingPorts; // ports whose open fails
    QStringList written;       // every Output text, in order
    QStringList calls;         // every set, "name=value"
    qint16 pendingOut = 0;     // what OutBufferCount reports
    bool cts = false, dsr = false;
    QByteArray m_codePage = "UTF-8";

private:
    void check(const QString& member) const;
    bool m_open = false;
    qint16 m_port = 1;
    QString m_settings = QStringLiteral("9600,n,8,1");
    qint32 m_handshaking = 0;
    QByteArray m_in;
    qint16 m_event = 0;
    qint16 m_inputLen = 0, m_rthreshold = 1, m_sthreshold = 0;
    QString m_parityReplace = QStringLiteral("?");
    bool m_dtr = true;
};
