#pragma once

#include "serial/CommEventQueue.h"
#include "serial/ISerialCtl.h"
#include "serial/LineSettings.h"
#include "serial/PortOpener.h"
#include "serial/PortSession.h"
#include "serial/Reconnector.h"
#include "serial/SerialBackend.h"

#include <memory>

class QTimer;

// The serial port component over Linux termios, driven from the UI thread's
// event loop. OnComm is emitted from the event loop, never from inside a call
// the program makes: events that arise meanwhile wait their turn. A handler
// that runs a nested event loop (a message box) is served there, from the
// same queue and in order, so OnComm can arrive while an earlier handler
// has not returned.
//
// The properties, the event queue and the texts live here; PortOpener finds,
// locks and opens the device, PortSession works the open port (a reader
// thread drains the line even while the UI thread is busy).
//
// DeviceLost(description) follows PortClosed when the device goes away while
// open (adapter unplugged, pty master closed). The bytes the line still held
// have been read by then and announced with event 2; what the program has
// not taken stays readable through Input() until the next open. When the
// same device can be recognised again, the component then waits for it and
// reopens it with the same settings (Reconnected), keeping what Input() still
// holds; opening, closing or changing the port ends the wait.
class SerialCtl : public ISerialCtl, private PortSession::Owner {
    Q_OBJECT
public:
    explicit SerialCtl(QObject* parent = nullptr);
    explicit SerialCtl(std::unique_ptr<SerialBackend> backend, QObject* parent = nullptr);
    SerialCtl(std::unique_ptr<SerialBackend> backend, const SystemPaths& paths,
              QObject* parent = nullptr);
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
    qint64 inputReadMs() const override {
        return m_inputReads.isEmpty() ? 0 : m_inputReads.first().ms;
    }
    ReadSpans inputReads() const override { return m_inputReads; }
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
    bool connecting() const override { return m_connecting && !m_connectingAgain; }

    void setCodePage(const QByteArray& codePage) override;
    // Where UUCP lock files are looked for and made (default /run/lock, /var/lock).
    void setLockDirs(const QStringList& dirs);

    static constexpr int receiveLimit = PortSession::receiveLimit;
    static constexpr int sendLimit = 1 << 16;

private:
    void openPort();
    // The settings as the driver takes them; else why the port cannot open.
    QString configFor(LineConfig& config) const;
    void openDevice(const ResolvedPort& port, const LineConfig& config);
    // An open still under way is looked at on a timer; `again` for a reconnect.
    void beginConnecting(const ResolvedPort& port, bool again);
    void settleConnecting();
    void cancelConnecting();
    // The opener's device set up and at work; closed again when that fails.
    // True while a far end has still to confirm the settings (then
    // settleConnecting finishes it).
    bool startOpened(const ResolvedPort& port, const LineConfig& config);
    void finishOpened(const ResolvedPort& port);
    // The failure as the user reads it.
    QString describe(const OpenFailure& failure) const;
    QString busyDescription(const QString& device) const;
    Reconnector::Reopened reopen(const ResolvedPort& port);
    void announceReconnect(const ResolvedPort& port);
    void stopWaiting();
    void closePort();
    // A line change the driver sent but could not confirm (-ETIMEDOUT) is
    // announced by Notice, one still awaited (-EINPROGRESS) later; true when
    // `rc` was either.
    bool noticeUnconfirmed(int rc, const QString& line);
    void applyToOpenPort(const LineSettings& settings, int handshaking);
    // True when the far end confirms later; throws when it did not take.
    bool applyConfig(const LineConfig& config, const LineConfig* restore);
    QString appliedFailure(const PortSession::Applied& applied, bool open);
    void checkAnswers();
    void awaitAnswers();
    QString portName() const;
    // atOnce: an idle line takes the bytes now rather than from the event loop.
    void queueOutput(const QByteArray& bytes, bool atOnce);
    bool rtsIsOurs() const { return m_handshaking != 2 && m_handshaking != 3; }

    // PortSession::Owner
    void raise(int code) override;
    void received() override;
    void sendLevel(int before, int now) override;
    void lost(int error, bool reportedByCaller) override;
    void deliver() override;
    void deliverLater();

    PortOpener m_opener;
    QTimer* m_deliverTimer = nullptr;

    qint16 m_port = 1;
    LineSettings m_settings;
    qint32 m_handshaking = 0;
    qint16 m_inputLen = 0, m_rthreshold = 1, m_sthreshold = 0;
    QString m_parityReplace = QStringLiteral("?");
    bool m_dtr = true;
    bool m_rts = true;
    QByteArray m_codePage;
    QString m_display; // device path of the open port

    qint16 m_event = 0;
    CommEventQueue m_events; // waiting for delivery
    quint64 m_takenCount = 0;
    ReadSpans m_inputReads;

    QString m_lossDescription;
    QString m_reconnectDescription;
    OpenedDevice m_opened;
    Reconnector* m_reconnector = nullptr;
    bool m_connecting = false, m_connectingAgain = false, m_settlingOpen = false;
    QTimer* m_answerTimer = nullptr;
    bool m_changing = false; // a settings change waits for the far end
    LineSettings m_confirmedSettings;
    qint32 m_confirmedHandshaking = 0;
    ResolvedPort m_connectingPort;
    QTimer* m_connectTimer = nullptr;
    // Last: it calls back into the members above until it is gone.
    std::unique_ptr<PortSession> m_session;
};
