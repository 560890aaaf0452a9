#pragma once

#include "serial/ParmrkDecoder.h"
#include "serial/PortLock.h"
#include "serial/SerialBackend.h"
#include "serial/SerialReader.h"
#include "serial/ShareBudget.h"

#include <QByteArray>
#include <QObject>
#include <atomic>
#include <memory>

class QSocketNotifier;
class QTimer;

// One open port at work: the reader thread draining the line into the
// receive buffer (PARMRK marks decoded), the send queue going out on
// writability, the modem lines and counters polled, and a loss taken in
// whole. It raises comm events through its Owner and composes no text.
class PortSession : public QObject {
    Q_OBJECT
public:
    class Owner {
    public:
        virtual void raise(int code) = 0;
        // The receive buffer grew.
        virtual void received() = 0;
        // Unsent bytes went from `before` to `now`.
        virtual void sendLevel(int before, int now) = 0;
        // The session closed itself after a loss (errno `error`, 0 a hang-up).
        virtual void lost(int error, bool reportedByCaller) = 0;
        // Delivers what was raised; the session calls it from the event loop.
        virtual void deliver() = 0;

    protected:
        ~Owner() = default;
    };

    // What an apply gave: an errno from setting or reading back, or the
    // settings the driver kept instead (`kept`); `pending` while the far end
    // has not answered yet (settle() tells later).
    struct Applied {
        int applyError = 0;
        int readBackError = 0;
        bool kept = false;
        bool pending = false;
        LineConfig requested;
        LineConfig actual;
        bool ok() const { return !applyError && !readBackError && !kept && !pending; }
    };

    static constexpr int receiveLimit = 1 << 20;
    // Read but not yet in the receive buffer: enough for the UI thread to
    // stall for a third of a second at 12 Mbit/s without holding the line back.
    static constexpr long queueLimit = 512 * 1024;

    PortSession(std::unique_ptr<SerialBackend> backend, std::unique_ptr<PortLock> lock,
                Owner& owner, QObject* parent = nullptr);
    ~PortSession() override;

    SerialBackend& backend() { return *m_backend; }
    const SerialBackend& backend() const { return *m_backend; }
    PortLock& lock() { return *m_lock; }
    void setLock(std::unique_ptr<PortLock> lock) { m_lock = std::move(lock); }

    // Applies and reads back; a driver keeping other values gets `restore`
    // (unless the line is gone). Remembered as applied when it took.
    Applied apply(const LineConfig& config, const LineConfig* restore);
    // The pending apply's outcome; a failed one is undone without waiting.
    Applied settle();
    const LineConfig& applied() const { return m_applied; }
    // Starts work on the device the opener opened, its settings applied; an
    // errno when the reader cannot run (then close()).
    // `dtrSet` gets what setting DTR gave.
    int start(bool dtr, int* dtrSet = nullptr);
    // Stops, reading what is left first; releases the device and the lock.
    // Also undoes an opener's open that was never started.
    void close();
    // Takes what the line still holds, closes and tells the owner.
    void lose(int error, bool reportedByCaller = false);
    bool isOpen() const { return m_open; }

    // The stand-in for a byte received with a line error, in the code page.
    void setReplacement(const QByteArray& bytes) { m_replacement = bytes; }

    // The receive buffer; it stays readable while closed.
    const QByteArray& input() const { return m_in; }
    // Removes up to `most` bytes (all for 0); `reads` gets when they were read.
    QByteArray take(int most, ReadSpans* reads = nullptr);
    void clearInput() {
        m_in.clear();
        m_inTimes.clear();
    }

    // Unsent bytes, ours and the driver's.
    int outCount() const;
    int queued() const { return int(m_out.size()); }
    // atOnce: when nothing waits before them, the bytes are offered to the
    // driver now; a failure is left to the write notifier to report.
    void send(const QByteArray& bytes, bool atOnce = false);
    // Drops unsent bytes, ours and the driver's.
    void discardOutput();

    int modemLines(); // -1 without modem lines
    int setDtr(bool on);

private:
    void onReceived();
    void takeLater();
    void stopReading();
    void onWritable();
    void onPoll();
    void consume(const QByteArray& bytes, const ReadSpans& reads);
    void consume(const char* data, long size, qint64 readMs);
    void pollModemLines();
    void pollCounters();
    int kernelOutQueue() const;
    void checkSendLevel();
    Applied judge(const LineConfig& config, const LineConfig* restore);

    std::unique_ptr<SerialBackend> m_backend;
    std::unique_ptr<PortLock> m_lock;
    Owner& m_owner;
    std::unique_ptr<SerialReader> m_reader;
    // One hand-over waits in the event queue at most: a pass of the event
    // loop then takes one share, and timers and input get their turn between.
    std::atomic<bool> m_takePending{false};
    ShareBudget m_share;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer* m_pollTimer = nullptr;

    bool m_open = false;
    QByteArray m_replacement;
    QByteArray m_in;
    ReadTimes m_inTimes;
    bool m_marking = true; // the driver marks line errors (PARMRK)
    bool m_inFull = false; // the reader holds bytes the receive buffer had no room for
    ParmrkDecoder m_decoder;
    QByteArray m_out;
    int m_lastOutCount = 0;

    LineConfig m_applied;
    bool m_settling = false; // an apply waits for the far end's answers
    LineConfig m_settlingConfig, m_settlingRestore;
    bool m_settlingRestores = false;
    bool m_hasModemLines = false;
    int m_lines = 0;
    bool m_hasCounters = false;
    LineCounters m_counters;
};
