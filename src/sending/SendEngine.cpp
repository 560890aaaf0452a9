#include "sending/SendEngine.h"

#include "platform/Clock.h"
#include "platform/Failure.h"

#include <algorithm>
#include <utility>

namespace {

class BytesSource : public SendSource {
public:
    explicit BytesSource(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    qint64 size() const override { return m_bytes.size(); }
    QByteArray read(qint64 max) override {
        const QByteArray piece = m_bytes.mid(m_pos, max);
        m_pos += piece.size();
        return piece;
    }

private:
    QByteArray m_bytes;
    qsizetype m_pos = 0;
};

} // namespace

std::unique_ptr<SendSource> bytesSource(QByteArray bytes) {
    return std::make_unique<BytesSource>(std::move(bytes));
}

void SendEngine::start(SendPort& port, std::unique_ptr<SendSource> source, const Pacing& pacing) {
    m_port = &port;
    m_source = std::move(source);
    m_total = m_source->size();
    m_data.clear();
    m_sourceDone = false;
    m_pacing = pacing.clamped();
    m_active = true;
    m_end = End::None;
    m_failure.clear();
    m_phase = Phase::Write;
    m_step = SendStep();
    m_pos = m_written = m_sent = 0;
    m_echoSeen = false;
}

// Keeps more than a piece at hand while the source lasts: whether a CR ends
// a line depends on the byte after it.
bool SendEngine::fill() {
    if (m_sourceDone || m_data.size() - m_pos > chunk)
        return true;
    m_data.remove(0, m_pos);
    m_pos = 0;
    try {
        while (!m_sourceDone && m_data.size() <= chunk) {
            const QByteArray more = m_source->read(2 * chunk - m_data.size());
            m_sourceDone = more.isEmpty();
            m_data += more;
        }
    } catch (const Failure& failure) {
        m_failure = failure.description();
        finish(End::Failed);
        return false;
    }
    return true;
}

void SendEngine::observe(int pending) {
    m_sent = std::max(m_sent, m_written - std::max(pending, 0));
}

void SendEngine::finish(End end) {
    m_active = false;
    m_end = end;
    m_source.reset();
    m_data = QByteArray();
}

int SendEngine::run() {
    if (!m_active)
        return -1;
    int pending = m_port->pending();
    observe(pending);
    for (;;) {
        switch (m_phase) {
        case Phase::Write: {
            if (!fill())
                return -1;
            if (m_pos == m_data.size()) {
                if (pending > 0)
                    return pollMs;
                finish(End::Completed);
                return -1;
            }
            const SendStep step = planStep(m_data, m_pos, m_pacing, chunk);
            if (!step.paced() && pending >= lowWater)
                return pollMs;
            try {
                m_port->write(m_data.mid(m_pos, step.length));
            } catch (const Failure& failure) {
                m_failure = failure.description();
                finish(End::Failed);
                return -1;
            }
            m_pos += step.length;
            m_written += step.length;
            if (step.paced()) {
                pending = m_port->pending();
                m_step = step;
                m_echoByte = m_data.at(m_pos - 1);
                m_echoSeen = false;
                m_phase = Phase::Drain;
            } else {
                pending += int(step.length);
            }
            break;
        }
        case Phase::Drain:
            // The wait starts once the piece has left, so it is a gap on the line.
            if (pending > 0)
                return pollMs;
            m_drainedAt = m_clock.nowMs();
            m_phase = Phase::Wait;
            break;
        case Phase::Wait: {
            qint64 due = m_drainedAt + m_step.delayMs;
            if (m_step.awaitEcho && !m_echoSeen)
                due = std::max(due, m_drainedAt + m_pacing.echoTimeoutMs);
            const qint64 now = m_clock.nowMs();
            if (now < due)
                return int(due - now);
            m_phase = Phase::Write;
            break;
        }
        }
    }
}

void SendEngine::received(const QByteArray& bytes) {
    if (m_active && m_phase != Phase::Write && m_step.awaitEcho && bytes.contains(m_echoByte))
        m_echoSeen = true;
}

void SendEngine::stop() {
    if (!m_active)
        return;
    observe(m_port->pending());
    m_port->discard();
    finish(End::Stopped);
}

void SendEngine::portClosed() {
    if (m_active)
        finish(End::Closed);
}

Sender::Sender(const Clock& clock, QObject* parent)
    : QObject(parent), m_engine(clock), m_clock(clock) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Sender::tick);
}

bool Sender::start(SendPort& port, std::unique_ptr<SendSource> source, const Pacing& pacing) {
    if (m_engine.active())
        return false;
    m_engine.start(port, std::move(source), pacing);
    m_lastProgress = -1;
    emit progress(0, m_engine.total());
    m_timer.start(0);
    return true;
}

void Sender::tick() {
    settle(m_engine.run());
}

void Sender::settle(int wait) {
    if (wait >= 0) {
        m_timer.start(wait);
        const qint64 now = m_clock.nowMs();
        if (m_lastProgress < 0 || now - m_lastProgress >= progressMs) {
            m_lastProgress = now;
            emit progress(m_engine.sent(), m_engine.total());
        }
        return;
    }
    m_timer.stop();
    emit finished(m_engine.end(), m_engine.sent(), m_engine.total(), m_engine.failure());
}

void Sender::stop() {
    if (!m_engine.active())
        return;
    m_engine.stop();
    settle(-1);
}

void Sender::portClosed() {
    if (!m_engine.active())
        return;
    m_engine.portClosed();
    settle(-1);
}

void Sender::received(const QByteArray& bytes) {
    if (!m_engine.active())
        return;
    m_engine.received(bytes);
    if (m_timer.isActive() && m_timer.remainingTime() > 0)
        m_timer.start(0);
}
