#pragma once

#include "serial/ReadTimes.h"

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

// The serial port component as the program drives it.
//
// Failing: a member that fails throws Failure (platform/Failure.h) with a
// Japanese description fit to show as it is, and changes nothing: a refused
// set keeps the old value, and the port stays as open or closed as it was,
// unless the description says the device was lost (then the port is closed,
// PortClosed is emitted, and DeviceLost is not). The program treats every
// member as one that may fail; SerialCtl's getters do not.
//
// Signals: PortClosed from setPortOpen(false) is emitted before that call
// returns. Everything else (OnComm, a loss's PortClosed and DeviceLost) is
// emitted from the event loop, never from inside a call the program makes;
// a handler that runs a nested event loop (a message box) can receive the
// next events there, in order.
class ISerialCtl : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ISerialCtl() override = default;

    virtual bool PortOpen() const = 0;
    // true opens port CommPort with Settings, Handshaking and DTREnable, for
    // this program alone; fails when the device is missing, busy, not
    // permitted or refuses the settings. false closes it, dropping unsent
    // output; received bytes not taken stay readable through Input() (unless
    // RThreshold is 0). Setting the value it already has does nothing.
    virtual void setPortOpen(bool open) = 0;
    virtual qint16 CommPort() const = 0;
    // 1 to 16; refused while the port is open.
    virtual void setCommPort(qint16 port) = 0;
    // The settings text (LineSettings), parity letter in lower case.
    virtual QString Settings() const = 0;
    // Takes a settings text, parity letter in either case. On an open port
    // it is applied at once and read back from the driver: a driver that
    // keeps other values fails the set and gets the old ones back.
    virtual void setSettings(const QString& settings) = 0;
    virtual qint32 Handshaking() const = 0;
    // Flow control 0 none, 1 Xon/Xoff, 2 RTS/CTS, 3 both; applied to an open
    // port as setSettings is.
    virtual void setHandshaking(qint32 mode) = 0;
    // Bytes not yet sent (ours and the driver's); 0 while closed.
    virtual qint16 OutBufferCount() const = 0;
    // Queues the text as bytes of the code page and returns; the bytes go
    // out from the event loop. Fails while closed, and when the queue would
    // exceed its limit (then event 1010 follows too and nothing is queued).
    virtual void setOutput(const QString& text) = 0;
    // Removes and returns received bytes (all of them while InputLen is 0);
    // works while closed too, returning what is still buffered.
    virtual QByteArray Input() = 0;
    // When the first byte the last Input() returned was read from the device,
    // in ms since the epoch; 0 when not known.
    virtual qint64 inputReadMs() const { return 0; }
    // When the bytes the last Input() returned were read, read by read;
    // empty when not known.
    virtual ReadSpans inputReads() const { return {}; }
    // The code of the event OnComm announces; read it in the handler.
    virtual qint16 CommEvent() const = 0;
    // At most this many bytes per Input(), 0 for all; not negative.
    virtual qint16 InputLen() const = 0;
    virtual void setInputLen(qint16 value) = 0;
    // Event 2 is raised when at least this many bytes wait, 0 for never; not
    // negative. Raising it to or below what already waits raises event 2
    // while the port is open.
    virtual qint16 RThreshold() const = 0;
    virtual void setRThreshold(qint16 value) = 0;
    // Event 1 is raised when unsent bytes fall below this, 0 for never; not
    // negative.
    virtual qint16 SThreshold() const = 0;
    virtual void setSThreshold(qint16 value) = 0;
    // The character that stands in for a byte received with a parity or
    // framing error; empty keeps the byte as received. Only the first
    // character is kept. Never fails.
    virtual QString ParityReplace() const = 0;
    virtual void setParityReplace(const QString& value) = 0;
    // The DTR line while open; set at once on an open port. A port without
    // modem lines (a pty) takes the value without failing.
    virtual bool DTREnable() const = 0;
    virtual void setDTREnable(bool enable) = 0;
    // The modem lines as read now; false while closed or without modem lines.
    virtual bool CTSHolding() const = 0;
    virtual bool DSRHolding() const = 0;

    // Queues bytes as they are, past the code page; fails as setOutput does.
    virtual void setOutputBytes(const QByteArray& bytes) = 0;
    // Drops output not yet sent, ours and the driver's.
    virtual void discardOutput() = 0;
    // Holds the line in BREAK for a quarter second; fails while closed.
    virtual void sendBreak() = 0;
    // The RTS line while open, applied at every open and reopen. While the
    // flow control uses RTS (handshaking 2 or 3) the driver drives it and the
    // value waits for the next open without it.
    virtual bool RTSEnable() const = 0;
    virtual void setRTSEnable(bool enable) = 0;

    // The code page Output encodes with; the receive path decodes with it.
    virtual QByteArray codePage() const = 0;
    virtual void setCodePage(const QByteArray& codePage) = 0;
    // After a loss, until the same device is back (Reconnected) or the
    // program opens, closes or changes the port.
    virtual bool waitingForDevice() const { return false; }
    // An open that takes a while (a remote port) is under way: PortOpen is
    // still false, and OpenSettled tells how it ends. Closing ends it, and so
    // does setPortOpen(false).
    virtual bool connecting() const { return false; }

signals:
    // One event: CommEvent holds its code. Equal events waiting together are
    // announced once.
    void OnComm();
    // The device went away while open (unplugged adapter, hung-up line).
    // Before this arrives the component has read what the line still held and
    // raised its receive events, then closed the port. Bytes not taken by then
    // stay readable through Input(). Raised once per loss; a loss found
    // inside a call the program makes (a settings apply) fails that call with
    // this description instead, and only PortClosed follows.
    void DeviceLost(const QString& description);
    // The lost device came back and the port is open again with the same
    // settings; the description names it.
    void Reconnected(const QString& description);
    // The port closed, by the program or by a loss: a receiver flushes what
    // it holds back for the next chunk.
    void PortClosed();
    // Worth a status message, not a failure: a remote server that does not
    // confirm a DTR change it was sent.
    void Notice(const QString& description);
    // The open under way ended: the port is open when `failure` is empty,
    // else it says why not, as a failed setPortOpen(true) would.
    void OpenSettled(const QString& failure);
    // A settings change a far end (a network port) did not confirm: the
    // settings are back as they were, and `failure` says why.
    void SettingsRefused(const QString& failure);
};
