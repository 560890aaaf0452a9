#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// Event codes of OnComm (CommEvent).
enum CommEventCode : int {
    CommSend = 1,
    CommReceive = 2,
    CommCTS = 3,
    CommDSR = 4,
    CommCD = 5,
    CommRing = 6,
    CommEOF = 7,
    CommErrorBreak = 1001,
    CommErrorCTSTimeout = 1002,
    CommErrorDSRTimeout = 1003,
    CommErrorFraming = 1004,
    CommErrorOverrun = 1006,
    CommErrorCDTimeout = 1007,
    CommErrorRxOverflow = 1008,
    CommErrorParity = 1009,
    CommErrorTxFull = 1010,
    CommErrorConfig = 1011,
};

// The serial port component as the program drives it. Every getter and
// setter may throw Failure (platform/Failure.h) with a Japanese description;
// a refused set keeps the old value.
class ISerialCtl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ISerialCtl() override = default;

    virtual bool PortOpen() const = 0;
    virtual void setPortOpen(bool open) = 0;
    virtual qint16 CommPort() const = 0;
    virtual void setCommPort(qint16 port) = 0;
    virtual QString Settings() const = 0; // parity letter in lower case
    virtual void setSettings(const QString& settings) = 0;
    virtual qint32 Handshaking() const = 0;
    virtual void setHandshaking(qint32 mode) = 0;
    virtual qint16 OutBufferCount() const = 0;
    // Queues the text as bytes of the code page.
    virtual void setOutput(const QString& text) = 0;
    // Removes and returns received bytes (all of them while InputLen is 0);
    // works while closed too, returning what is still buffered.
    virtual QByteArray Input() = 0;
    virtual qint16 CommEvent() const = 0;
    virtual qint16 InputLen() const = 0;
    virtual void setInputLen(qint16 value) = 0;
    virtual qint16 RThreshold() const = 0;
    virtual void setRThreshold(qint16 value) = 0;
    virtual qint16 SThreshold() const = 0;
    virtual void setSThreshold(qint16 value) = 0;
    virtual QString ParityReplace() const = 0;
    virtual void setParityReplace(const QString& value) = 0;
    virtual bool DTREnable() const = 0;
    virtual void setDTREnable(bool enable) = 0;
    virtual bool CTSHolding() const = 0;
    virtual bool DSRHolding() const = 0;

    // The code page Output encodes with; the receive path decodes with it.
    virtual QByteArray codePage() const = 0;

signals:
    // Raised on the UI thread whenever CommEvent changes.
    void OnComm();
    // The device went away while open (unplugged adapter, hung-up line).
    // Before this arrives the component has read what the line still held and
    // raised its receive events, then closed the port. Bytes not taken by then
    // stay readable through Input(). Raised once per loss; a loss found
    // inside a call the program makes (a settings apply) fails that call with
    // this description instead, and only PortClosed follows.
    void DeviceLost(const QString& description);
    // The port closed, by the program or by a loss: a receiver flushes what
    // it holds back for the next chunk.
    void PortClosed();
};
