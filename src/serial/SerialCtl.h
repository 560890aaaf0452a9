#pragma once

#include "serial/ISerialCtl.h"

// The serial port component over Linux termios. Placeholder until it lands.
class SerialCtl : public ISerialCtl {
    Q_OBJECT
public:
    explicit SerialCtl(QObject* parent = nullptr);
    ~SerialCtl() override;

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
    QByteArray codePage() const override;
};
