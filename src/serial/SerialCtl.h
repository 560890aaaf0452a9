#pragma once

#include "serial/CommEventQueue.h"
#include "serial/ISerialCtl.h"
#include "serial/LineSettings.h"
#include "serial/ParmrkDecoder.h"
#include "serial/PortLock.h"
#include "serial/Reconnector.h"
#include "serial/SerialBackend.h"
#include "serial/SerialReader.h"

#include <QVector>
#include <memory>

class QSocketNotifier;
class QTimer;
struct ResolvedPort;

// The serial port component over Linux termios, driven from the UI thread's
// event loop. OnComm is emitted from the event loop, never from inside a call
// the program makes: events that arise meanwhile wait their turn. A handler
// that runs a nested event loop (a message box) is served there, from the
// same queue and in order, so OnComm can arrive while an earlier handler
// has not returned.
//
// A helper thread (SerialReader) reads the device, so the line is drained
// even while the UI thread is busy; what it read enters the receive buffer,
// and raises its events, on the UI thread.
//
// DeviceLost(description) follows PortClosed when the device goes away while
// open (adapter unplugged, pty master closed). The bytes the line still held
// have been read by then and announced with event 2; what the program has
// not taken stays readable through Input() until the next open. When the
// same device can be recognised again, the component then waits for it and
// reopens it with the same settings (Reconnected), keeping what Input() still
// holds; opening, closing or changing the port ends the wait.
class SerialCtl : public ISerialCtl {
    Q_OBJECT
public:
    explicit SerialCtl(QObject* parent = nullptr);
    explicit SerialCtl(std::unique_ptr<SerialBackend> backend, QObject* parent = nullptr);
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
    void setOutputBytes(const QByteArray& bytes) override;
    void discardOutput() override;
    void sendBreak() override;
    bool RTSEnable() const override;
    void setRTSEnable(bool enable) override;
    bool CTSHolding() const override;
    bool DSRHolding() const override;
    QByteArray codePage() const override;
    bool waitingForDevice() const override;

    void setCodePage(const QByteArray& codePage);
    // Where UUCP lock files are looked for and made (default /run/lock, /var/lock).
    void setLockDirs(const QStringList& dirs);

    static constexpr int receiveLimit = 1 << 20;
    static constexpr int sendLimit = 1 << 16;

private:
    // Read but not yet in the receive buffer: enough for the UI thread to
    // stall for a third of a second at 12 Mbit/s without holding the line back.
    static constexpr long queueLimit = 512 * 1024;

    void openPort();
    void openDevice(const ResolvedPort& port, const LineConfig& config);
    QString busyDescription(const QString& device) const;
    bool reopen(const ResolvedPort& port);
    void stopWaiting();
    void closePort();
    void applyToOpenPort(const LineSettings& settings, int handshaking);
    void applyConfig(const LineConfig& config, const LineConfig* restore);
    QString portName() const;

    void onReceived();
    void takeLater();
    void stopReading();
    void onWritable();
    void onPoll();
    void consume(const char* data, long size);
    void pollModemLines();
    void pollCounters();
    int kernelOutQueue() const;
    void checkSendLevel();
    void queueOutput(const QByteArray& bytes);
    bool rtsIsOurs() const { return m_handshaking != 2 && m_handshaking != 3; }
    // reportedByCaller: the call that found the loss fails with its
    // description, so DeviceLost is not raised for it as well.
    void lose(int error, bool reportedByCaller = false);

    void raise(int code);
    void deliver();
    void deliverLater();

    std::unique_ptr<SerialBackend> m_backend;
    std::unique_ptr<SerialReader> m_reader;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer* m_pollTimer = nullptr;
    QTimer* m_deliverTimer = nullptr;

    bool m_open = false;
    qint16 m_port = 1;
    LineSettings m_settings;
    qint32 m_handshaking = 0;
    qint16 m_inputLen = 0, m_rthreshold = 1, m_sthreshold = 0;
    QString m_parityReplace = QStringLiteral("?");
    QByteArray m_replacement; // m_parityReplace in the code page
    bool m_dtr = true;
    bool m_rts = true;
    QByteArray m_codePage;
    QString m_display; // device path of the open port

    qint16 m_event = 0;
    CommEventQueue m_events; // waiting for delivery

    QByteArray m_in;
    quint64 m_takenCount = 0;
    bool m_marking = true; // the driver marks line errors (PARMRK)
    bool m_inFull = false; // the reader holds bytes the receive buffer had no room for
    ParmrkDecoder m_decoder;
    QByteArray m_out;
    int m_lastOutCount = 0;

    LineConfig m_applied;
    bool m_hasModemLines = false;
    int m_lines = 0;
    bool m_hasCounters = false;
    LineCounters m_counters;
    QString m_lossDescription;
    QString m_reconnectDescription;

    std::unique_ptr<PortLock> m_lock;
    OpenedDevice m_opened;
    Reconnector* m_reconnector = nullptr;
};
