#include "serial/PortSession.h"

#include "serial/ISerialCtl.h"
#include "serial/TermiosHelpers.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr int pollInterval = 30;
// What is still read from a line that has gone, after the reader stopped.
constexpr long finalReadSize = 64 * 1024;
constexpr int finalReads = 4;
} // namespace

PortSession::PortSession(std::unique_ptr<SerialBackend> backend, std::unique_ptr<PortLock> lock,
                         Owner& owner, QObject* parent)
    : QObject(parent), m_backend(std::move(backend)), m_lock(std::move(lock)), m_owner(owner) {
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(pollInterval);
    connect(m_pollTimer, &QTimer::timeout, this, &PortSession::onPoll);
}

PortSession::~PortSession() {
    m_reader.reset();
    m_backend->close();
}

PortSession::Applied PortSession::apply(const LineConfig& config, const LineConfig* restore) {
    Applied result;
    result.requested = config;
    m_settling = false;
    int rc = m_backend->apply(config);
    if (rc == -EINPROGRESS) {
        m_settling = true;
        m_settlingConfig = config;
        m_settlingRestores = restore != nullptr;
        m_settlingRestore = restore ? *restore : LineConfig();
        result.pending = true;
        return result;
    }
    if (rc < 0) {
        result.applyError = -rc;
        // A line that has gone keeps nothing worth restoring.
        if (restore && !(m_open && rc == -EIO))
            m_backend->apply(*restore);
        return result;
    }
    return judge(config, restore);
}

PortSession::Applied PortSession::settle() {
    if (!m_settling)
        return {};
    const LineConfig restore = m_settlingRestore;
    Applied result = judge(m_settlingConfig, m_settlingRestores ? &restore : nullptr);
    m_settling = result.pending;
    // Unanswered, the settings did not take as far as anyone can tell.
    if (!result.pending && result.readBackError && result.readBackError != EPROTO)
        std::swap(result.applyError, result.readBackError);
    return result;
}

PortSession::Applied PortSession::judge(const LineConfig& config, const LineConfig* restore) {
    Applied result;
    result.requested = config;
    const int rc = m_backend->readBack(result.actual);
    if (rc == -EINPROGRESS) {
        result.pending = true;
        return result;
    }
    if (rc < 0) {
        result.readBackError = -rc;
        // Refused sets keep the old value, so the port gets it back too.
        if (restore)
            m_backend->apply(*restore);
        return result;
    }
    LineConfig sameRate = result.actual;
    sameRate.speed = config.speed;
    if (sameRate != config || !rateWithinTolerance(config.speed, result.actual.speed)) {
        result.kept = true;
        if (restore)
            m_backend->apply(*restore);
        return result;
    }
    // A rate a little off is what UARTs make; the request stands.
    m_applied = config;
    return result;
}

int PortSession::start(bool dtr, int* dtrSet) {
    const int dtrResult = m_backend->setDtr(dtr);
    if (dtrSet)
        *dtrSet = dtrResult;

    m_hasModemLines = m_backend->modemLines(m_lines) == 0;
    m_hasCounters = m_backend->counters(m_counters) == 0;
    m_marking = m_backend->marksLineErrors();
    m_decoder.reset();
    m_out.clear();
    m_lastOutCount = 0;

    m_inFull = false;
    m_reader = std::make_unique<SerialReader>(*m_backend, queueLimit, [this] { takeLater(); });
    if (const int error = m_reader->start()) {
        m_reader.reset();
        return error;
    }
    m_writeNotifier = new QSocketNotifier(m_backend->fd(), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PortSession::onWritable);
    m_open = true;
    if (m_hasModemLines || m_hasCounters)
        m_pollTimer->start();
    return 0;
}

void PortSession::close() {
    m_settling = false;
    stopReading();
    // The notifier goes first: one left on a hung-up descriptor fires endlessly.
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(false);
        m_writeNotifier->deleteLater();
        m_writeNotifier = nullptr;
    }
    m_pollTimer->stop();
    m_backend->close();
    m_lock->release();
    m_open = false;
    m_out.clear();
    m_lastOutCount = 0;
    m_hasModemLines = m_hasCounters = false;
}

QByteArray PortSession::take(int most, ReadSpans* reads) {
    QByteArray taken;
    const ReadSpans spans = m_inTimes.take(most == 0 ? long(m_in.size()) : long(most));
    if (reads)
        *reads = spans;
    if (most == 0 || most >= m_in.size()) {
        taken = std::exchange(m_in, QByteArray());
    } else {
        taken = m_in.left(most);
        m_in.remove(0, most);
    }
    if (m_inFull && m_in.size() < receiveLimit) {
        m_inFull = false;
        takeLater();
    }
    return taken;
}

void PortSession::onReceived() {
    m_takePending = false;
    if (!m_reader)
        return; // posted before the port closed
    QElapsedTimer handled;
    handled.start();
    // A bounded share per round, so a flood does not hold the event loop.
    const long room = std::max(receiveLimit - long(m_in.size()), 0L);
    const SerialReader::Batch batch = m_reader->take(std::min(room, m_share.next()));
    consume(batch.bytes, batch.reads);
    if (batch.ended) {
        lose(batch.error);
    } else if (batch.more && m_in.size() >= receiveLimit) {
        // The receive buffer is full: the rest waits until the program takes data.
        if (!m_inFull)
            m_owner.raise(CommErrorRxOverflow);
        m_inFull = true;
    } else if (batch.more) {
        takeLater();
    }
    m_owner.deliver();
    m_share.took(long(batch.bytes.size()), handled.nsecsElapsed());
}

// Also called on the reader's thread.
void PortSession::takeLater() {
    if (!m_takePending.exchange(true))
        QMetaObject::invokeMethod(this, &PortSession::onReceived, Qt::QueuedConnection);
}

// Stops the reader thread; what it read is received all the same.
void PortSession::stopReading() {
    if (!m_reader)
        return;
    m_reader->stop();
    const SerialReader::Batch rest = m_reader->take(queueLimit);
    m_reader.reset();
    consume(rest.bytes, rest.reads);
}

void PortSession::consume(const QByteArray& bytes, const ReadSpans& reads) {
    forEachRead(bytes, reads, QDateTime::currentMSecsSinceEpoch(),
                [this](const QByteArray& part, qint64 readMs) {
                    if (!part.isEmpty())
                        consume(part.constData(), long(part.size()), readMs);
                });
}

void PortSession::consume(const char* data, long size, qint64 readMs) {
    if (!m_marking) {
        // Nothing is marked, not even a data FF.
        if (std::memchr(data, '\x1a', size_t(size)))
            m_owner.raise(CommEOF);
        m_in.append(data, size);
        m_inTimes.add(size, readMs);
        m_owner.received();
        return;
    }
    QByteArray bytes;
    const QVector<ParmrkDecoder::Mark> marks = m_decoder.feed(data, size, m_replacement, bytes);
    if (!marks.isEmpty()) {
        // The counters tell parity from framing errors, per read rather than per byte.
        int parity = 0, frame = 0;
        LineCounters now;
        if (m_hasCounters && m_backend->counters(now) == 0) {
            parity = now.parity - m_counters.parity;
            frame = now.frame - m_counters.frame;
            m_counters.parity = now.parity;
            m_counters.frame = now.frame;
            m_counters.brk = now.brk;
        }
        for (const ParmrkDecoder::Mark mark : marks) {
            if (mark == ParmrkDecoder::Mark::Break) {
                m_owner.raise(CommErrorBreak);
            } else if (parity > 0) {
                --parity;
                m_owner.raise(CommErrorParity);
            } else if (frame > 0) {
                --frame;
                m_owner.raise(CommErrorFraming);
            } else {
                m_owner.raise(m_applied.parity != 'n' ? CommErrorParity : CommErrorFraming);
            }
        }
    }
    if (bytes.contains('\x1a'))
        m_owner.raise(CommEOF);
    m_in.append(bytes);
    m_inTimes.add(long(bytes.size()), readMs);
    m_owner.received();
}

int PortSession::kernelOutQueue() const {
    int bytes = 0;
    if (!m_open || m_backend->outQueue(bytes) != 0)
        return 0;
    return std::max(bytes, 0);
}

int PortSession::outCount() const {
    return m_open ? int(m_out.size()) + kernelOutQueue() : 0;
}

void PortSession::send(const QByteArray& bytes, bool atOnce) {
    const bool idle = m_out.isEmpty();
    m_out.append(bytes);
    m_lastOutCount = int(m_out.size()) + kernelOutQueue();
    m_writeNotifier->setEnabled(true);
    if (atOnce && idle) {
        const long n = m_backend->write(m_out.constData(), long(m_out.size()));
        if (n > 0)
            m_out.remove(0, n);
    }
}

void PortSession::discardOutput() {
    if (!m_open)
        return;
    m_out.clear();
    m_writeNotifier->setEnabled(false);
    m_backend->flushOutput();
    checkSendLevel();
}

void PortSession::onWritable() {
    while (m_open && !m_out.isEmpty()) {
        const long n = m_backend->write(m_out.constData(), long(m_out.size()));
        if (n > 0) {
            m_out.remove(0, n);
        } else if (n == -EINTR) {
            continue;
        } else if (n == -EAGAIN || n == -EWOULDBLOCK || n == 0) {
            break;
        } else {
            lose(int(-n));
            m_owner.deliver();
            return;
        }
    }
    if (m_out.isEmpty()) {
        m_writeNotifier->setEnabled(false);
        if (kernelOutQueue() > 0)
            m_pollTimer->start();
    }
    checkSendLevel();
    m_owner.deliver();
}

void PortSession::checkSendLevel() {
    const int count = int(m_out.size()) + kernelOutQueue();
    m_owner.sendLevel(m_lastOutCount, count);
    m_lastOutCount = count;
}

void PortSession::onPoll() {
    if (m_open && m_hasModemLines)
        pollModemLines();
    if (m_open && m_hasCounters)
        pollCounters();
    if (m_open) {
        checkSendLevel();
        if (!m_hasModemLines && !m_hasCounters && m_lastOutCount == 0)
            m_pollTimer->stop();
    }
    m_owner.deliver();
}

int PortSession::modemLines() {
    int bits = 0;
    return m_open && m_hasModemLines && m_backend->modemLines(bits) == 0 ? bits : -1;
}

int PortSession::setDtr(bool on) {
    return m_backend->setDtr(on);
}

void PortSession::pollModemLines() {
    int bits = 0;
    const int rc = m_backend->modemLines(bits);
    if (rc == -EIO) {
        lose(EIO);
        return;
    }
    if (rc < 0) {
        m_hasModemLines = false; // a pty: no modem lines at all
        return;
    }
    const int changed = bits ^ m_lines;
    m_lines = bits;
    if (changed & LineCTS)
        m_owner.raise(CommCTS);
    if (changed & LineDSR)
        m_owner.raise(CommDSR);
    if (changed & LineCD)
        m_owner.raise(CommCD);
    if (changed & LineRI)
        m_owner.raise(CommRing);
}

void PortSession::pollCounters() {
    LineCounters now;
    const int rc = m_backend->counters(now);
    if (rc == -EIO) {
        lose(EIO);
        return;
    }
    if (rc < 0) {
        m_hasCounters = false;
        return;
    }
    // Transition counters catch pulses shorter than the poll interval.
    if (now.cts != m_counters.cts)
        m_owner.raise(CommCTS);
    if (now.dsr != m_counters.dsr)
        m_owner.raise(CommDSR);
    if (now.dcd != m_counters.dcd)
        m_owner.raise(CommCD);
    if (now.rng != m_counters.rng)
        m_owner.raise(CommRing);
    if (now.overrun != m_counters.overrun)
        m_owner.raise(CommErrorOverrun);
    if (now.bufOverrun != m_counters.bufOverrun)
        m_owner.raise(CommErrorRxOverflow);
    if (m_marking) {
        // frame, parity and break are matched to marked bytes as they are read.
        now.frame = m_counters.frame;
        now.parity = m_counters.parity;
        now.brk = m_counters.brk;
    } else {
        // Nothing marks the bytes (a remote port): the counters alone tell.
        if (now.brk != m_counters.brk)
            m_owner.raise(CommErrorBreak);
        if (now.frame != m_counters.frame)
            m_owner.raise(CommErrorFraming);
        if (now.parity != m_counters.parity)
            m_owner.raise(CommErrorParity);
    }
    m_counters = now;
}

void PortSession::lose(int error, bool reportedByCaller) {
    if (!m_open)
        return;
    stopReading();
    m_writeNotifier->setEnabled(false);
    m_pollTimer->stop();
    // Take whatever the driver still holds before the descriptor goes.
    QByteArray buffer(finalReadSize, Qt::Uninitialized);
    for (int chunk = 0; chunk < finalReads;) {
        const long n = m_backend->read(buffer.data(), finalReadSize);
        if (n > 0) {
            consume(buffer.constData(), n, QDateTime::currentMSecsSinceEpoch());
            ++chunk;
        } else if (n != -EINTR) {
            break;
        }
    }
    close();
    m_owner.lost(error, reportedByCaller);
}
