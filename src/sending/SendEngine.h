#pragma once

#include "sending/Pacing.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class Clock;

// What a send sends, read as the line takes it, so a file of any size costs
// a few pieces of memory.
class SendSource {
public:
    virtual ~SendSource() = default;
    // Bytes in all, known at the start.
    virtual qint64 size() const = 0;
    // The next bytes, at most `max`; empty at the end. Throws Failure when
    // it cannot read.
    virtual QByteArray read(qint64 max) = 0;
};

// Bytes already in memory (hex input, a paste).
std::unique_ptr<SendSource> bytesSource(QByteArray bytes);

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
    void start(SendPort& port, std::unique_ptr<SendSource> source, const Pacing& pacing);
    void start(SendPort& port, QByteArray data, const Pacing& pacing) {
        start(port, bytesSource(std::move(data)), pacing);
    }
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
    qint64 total() const { return m_total; }
    // Bytes that have left the port's queue, as last seen.
    qint64 sent() const { return m_sent; }

    // Unpaced output is topped up while the port holds less than this.
    static constexpr int lowWater = 8192;
    static constexpr qsizetype chunk = 4096;
    // How often a send looks at the port while bytes wait in it.
    static constexpr int pollMs = 1;

private:
    enum class Phase { Write, Drain, Wait };
    void finish(End end);
    void observe(int pending);
    bool fill();

    SendPort* m_port = nullptr;
    const Clock& m_clock;
    std::unique_ptr<SendSource> m_source;
    qint64 m_total = 0;
    // What is read of the source and not written yet starts at m_pos.
    QByteArray m_data;
    bool m_sourceDone = false;
    Pacing m_pacing;
    bool m_active = false;
    End m_end = End::None;
    QString m_failure;
    Phase m_phase = Phase::Write;
    SendStep m_step;
    qsizetype m_pos = 0;
    qint64 m_written = 0;
    qint64 m_sent = 0;
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
    bool start(SendPort& port, std::unique_ptr<SendSource> source, const Pacing& pacing);
    void stop();
    void portClosed();
    void received(const QByteArray& bytes);
    bool busy() const { return m_engine.active(); }
    qint64 sent() const { return m_engine.sent(); }
    qint64 total() const { return m_engine.total(); }

signals:
    // At most every progressMs while running.
    void progress(qint64 sent, qint64 total);
    void finished(SendEngine::End end, qint64 sent, qint64 total, const QString& failure);

private:
    void tick();
    void settle(int wait);

    SendEngine m_engine;
    const Clock& m_clock;
    QTimer m_timer;
    qint64 m_lastProgress = -1;
    static constexpr int progressMs = 100;
};
