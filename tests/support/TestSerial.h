#pragma once

#include "FakeSerialBackend.h"
#include "serial/SerialCtl.h"

#include <QSet>
#include <QStringList>

// The real serial component over the scripted driver, for the tests of the
// code that drives it. Com1 to Com16 lead to the driver as /dev/fake-comN.
// On top of the component: `calls` records every set the program makes,
// `written` every Output text, and `failOn` names members whose next get or
// set throws Failure("<name> failed") before reaching the component (reading
// PortOpen excepted), for the failures the program must survive but a healthy
// driver never gives.
class TestSerial : public SerialCtl {
    Q_OBJECT
public:
    explicit TestSerial(const QByteArray& codePage = "UTF-8");

    static QString devicePath(int port);
    // The device of `port` is not there when opened.
    void setMissing(int port, bool missing = true);
    // Bytes arrive on the line; returns once the component has announced them.
    void receive(const QByteArray& bytes);
    // Runs the event loop until what the line holds has been taken and the
    // events it raised are delivered.
    void settle();

    FakeSerialBackend& line;
    QSet<QString> failOn;
    QStringList calls;
    QStringList written;

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

private:
    TestSerial(FakeSerialBackend* backend, const QByteArray& codePage);
    void check(const QString& member) const;
};
