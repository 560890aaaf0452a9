#pragma once

#include "sending/Pacing.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class Clock;

// Where a send writes: the open port, as much of it as a send needs.
class SendPort {
public:
    virtual ~SendPort() = default;
    // Queues the bytes unchanged; throws Failure when it cannot.
    virtual void write(const QByteArray& bytes) = 0;
    // Bytes taken but not yet on the line (ours and the driver's).
    virtual int pending() const = 0;
    // Drops what is still waiting to go out.
    virtual void discard() = 0;
};

// One send, stepped by its owner: run() writes what is due and says when it
// wants to run again. Output is kept short of the line so a stop takes
// effect at once and flow control holds the rest back without loss.
class SendEngine {
public:
    enum class End { None, Completed, Stopped, Closed, Failed };

    explicit SendEngine(const Clock& clock) : m_clock(clock) {}
    void start(SendPort& port, QByteArray data, const Pacing& pacing);
    // Milliseconds until it wants to run again; -1 once the send has ended.
    int run();
    // Bytes the device sent back: the echo a paced line may wait for.
    void received(const QByteArray& bytes);
    // The user stopped it: what is still queued is dropped.
    void stop();
    // The port closed or was lost: its queue went with it.
    void portClosed();

    bool active() const { return m_active; }
    End end() const { return m_end; }
    QString failure() const { return m_failure; }
    qsizetype total() const { return m_data.size(); }
    // Bytes that have left the port's queue, as last seen.
    qsizetype sent() const { return m_sent; }

    // Unpaced output is topped up while the port holds less than this.
    static constexpr int lowWater = 8192;
    static constexpr qsizetype chunk = 4096;
    // How often a send looks at the port while bytes wait in it.
    static constexpr int pollMs = 1;

private:
    enum class Phase { Write, Drain, Wait };
    void finish(End end);
    void observe(int pending);

    SendPort* m_port = nullptr;
    const Clock& m_clock;
    QByteArray m_data;
    Pacing m_pacing;
    bool m_active = false;
    End m_end = End::None;
    QString m_failure;
    Phase m_phase = Phase::Write;
    SendStep m_step;
    qsizetype m_pos = 0;
    qsizetype m_written = 0;
    qsizetype m_sent = 0;
    qint64 m_drainedAt = 0;
    char m_echoByte = 0;
    bool m_echoSeen = false;
};

// Runs one SendEngine at a time from a timer on the event loop.
class Sender : public QObject {
    Q_OBJECT
public:
    explicit Sender(const Clock& clock, QObject* parent = nullptr);
    // False (and nothing changes) while another send runs.
    bool start(SendPort& port, QByteArray data, const Pacing& pacing);
    void stop();
    void portClosed();
    void received(const QByteArray& bytes);
    bool busy() const { return m_engine.active(); }
    qsizetype sent() const { return m_engine.sent(); }
    qsizetype total() const { return m_engine.total(); }

signals:
    // At most every progressMs while running.
    void progress(qsizetype sent, qsizetype total);
    void finished(SendEngine::End end, qsizetype sent, qsizetype total, const QString& failure);

private:
    void tick();
    void settle(int wait);

    SendEngine m_engine;
    const Clock& m_clock;
    QTimer m_timer;
    qint64 m_lastProgress = -1;
    static constexpr int progressMs = 100;
};
