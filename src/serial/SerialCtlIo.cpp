// The component's I/O pumps: received data from the reader thread into the
// receive buffer, the send queue onto the line, the modem lines and counters
// polled, and a loss taken in whole.
#include "serial/SerialCtl.h"

#include "platform/CodePage.h"
#include "platform/Failure.h"
#include "platform/SystemError.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <utility>

namespace {

// What is still read from a line that has gone, after the reader stopped.
constexpr long finalReadSize = 64 * 1024;
constexpr int finalReads = 4;
// Taken into the receive buffer per event-loop round.
constexpr long takeSize = 64 * 1024;

} // namespace

QByteArray SerialCtl::Input() {
    QByteArray taken;
    if (m_inputLen == 0 || m_inputLen >= m_in.size()) {
        taken = std::exchange(m_in, QByteArray());
    } else {
        taken = m_in.left(m_inputLen);
        m_in.remove(0, m_inputLen);
    }
    if (!taken.isEmpty())
        ++m_takenCount;
    if (m_inFull && m_in.size() < receiveLimit) {
        m_inFull = false;
        takeLater();
    }
    return taken;
}

void SerialCtl::onReceived() {
    if (!m_reader)
        return; // posted before the port closed
    // A bounded share per round, so a flood does not hold the event loop.
    const long room = std::max(receiveLimit - long(m_in.size()), 0L);
    const SerialReader::Batch batch = m_reader->take(std::min(room, takeSize));
    if (!batch.bytes.isEmpty())
        consume(batch.bytes.constData(), long(batch.bytes.size()));
    if (batch.ended) {
        lose(batch.error);
    } else if (batch.more && m_in.size() >= receiveLimit) {
        // The receive buffer is full: the rest waits until the program takes data.
        if (!m_inFull)
            raise(CommErrorRxOverflow);
        m_inFull = true;
    } else if (batch.more) {
        takeLater();
    }
    deliver();
}

void SerialCtl::takeLater() {
    QMetaObject::invokeMethod(this, &SerialCtl::onReceived, Qt::QueuedConnection);
}

// Stops the reader thread; what it read is received all the same.
void SerialCtl::stopReading() {
    if (!m_reader)
        return;
    m_reader->stop();
    const QByteArray rest = m_reader->take(queueLimit).bytes;
    m_reader.reset();
    if (!rest.isEmpty())
        consume(rest.constData(), long(rest.size()));
}

void SerialCtl::consume(const char* data, long size) {
    if (!m_marking) {
        // Nothing is marked, not even a data FF.
        if (std::memchr(data, '\x1a', size_t(size)))
            raise(CommEOF);
        m_in.append(data, size);
        if (m_rthreshold > 0 && m_in.size() >= m_rthreshold)
            raise(CommReceive);
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
                raise(CommErrorBreak);
            } else if (parity > 0) {
                --parity;
                raise(CommErrorParity);
            } else if (frame > 0) {
                --frame;
                raise(CommErrorFraming);
            } else {
                raise(m_applied.parity != 'n' ? CommErrorParity : CommErrorFraming);
            }
        }
    }
    if (bytes.contains('\x1a'))
        raise(CommEOF);
    m_in.append(bytes);
    if (m_rthreshold > 0 && m_in.size() >= m_rthreshold)
        raise(CommReceive);
}

int SerialCtl::kernelOutQueue() const {
    int bytes = 0;
    if (!m_open || m_backend->outQueue(bytes) != 0)
        return 0;
    return std::max(bytes, 0);
}

qint16 SerialCtl::OutBufferCount() const {
    if (!m_open)
        return 0;
    return qint16(std::min(m_out.size() + kernelOutQueue(), qsizetype(32767)));
}

void SerialCtl::setOutput(const QString& text) {
    if (!m_open)
        throw Failure(QStringLiteral("Com%1 は開いていないため送信できません。").arg(m_port));
    queueOutput(encodeText(text, m_codePage));
}

void SerialCtl::setOutputBytes(const QByteArray& bytes) {
    if (!m_open)
        throw Failure(QStringLiteral("Com%1 は開いていないため送信できません。").arg(m_port));
    const bool idle = m_out.isEmpty();
    queueOutput(bytes);
    // A paced piece is timed from when it leaves, so an idle line takes it at
    // once; a failure is left to the write notifier to report.
    if (idle && !m_out.isEmpty()) {
        const long n = m_backend->write(m_out.constData(), long(m_out.size()));
        if (n > 0)
            m_out.remove(0, n);
    }
}

void SerialCtl::queueOutput(const QByteArray& bytes) {
    if (m_out.size() + bytes.size() > sendLimit) {
        raise(CommErrorTxFull);
        deliverLater();
        throw Failure(QStringLiteral("送信バッファーがいっぱいのため %1 バイトを送信できません "
                                     "(未送信 %2 バイト)。")
                          .arg(bytes.size())
                          .arg(m_out.size()));
    }
    if (bytes.isEmpty())
        return;
    m_out.append(bytes);
    m_lastOutCount = int(m_out.size()) + kernelOutQueue();
    m_writeNotifier->setEnabled(true);
}

void SerialCtl::onWritable() {
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
            deliver();
            return;
        }
    }
    if (m_out.isEmpty()) {
        m_writeNotifier->setEnabled(false);
        if (kernelOutQueue() > 0)
            m_pollTimer->start();
    }
    checkSendLevel();
    deliver();
}

void SerialCtl::checkSendLevel() {
    const int count = int(m_out.size()) + kernelOutQueue();
    if (m_sthreshold > 0 && m_lastOutCount >= m_sthreshold && count < m_sthreshold)
        raise(CommSend);
    m_lastOutCount = count;
}

void SerialCtl::onPoll() {
    if (m_open && m_hasModemLines)
        pollModemLines();
    if (m_open && m_hasCounters)
        pollCounters();
    if (m_open) {
        checkSendLevel();
        if (!m_hasModemLines && !m_hasCounters && m_lastOutCount == 0)
            m_pollTimer->stop();
    }
    deliver();
}

void SerialCtl::pollModemLines() {
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
        raise(CommCTS);
    if (changed & LineDSR)
        raise(CommDSR);
    if (changed & LineCD)
        raise(CommCD);
    if (changed & LineRI)
        raise(CommRing);
}

void SerialCtl::pollCounters() {
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
        raise(CommCTS);
    if (now.dsr != m_counters.dsr)
        raise(CommDSR);
    if (now.dcd != m_counters.dcd)
        raise(CommCD);
    if (now.rng != m_counters.rng)
        raise(CommRing);
    if (now.overrun != m_counters.overrun)
        raise(CommErrorOverrun);
    if (now.bufOverrun != m_counters.bufOverrun)
        raise(CommErrorRxOverflow);
    if (m_marking) {
        // frame, parity and break are matched to marked bytes as they are read.
        now.frame = m_counters.frame;
        now.parity = m_counters.parity;
        now.brk = m_counters.brk;
    } else {
        // Nothing marks the bytes (a remote port): the counters alone tell.
        if (now.brk != m_counters.brk)
            raise(CommErrorBreak);
        if (now.frame != m_counters.frame)
            raise(CommErrorFraming);
        if (now.parity != m_counters.parity)
            raise(CommErrorParity);
    }
    m_counters = now;
}

void SerialCtl::lose(int error, bool reportedByCaller) {
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
            consume(buffer.constData(), n);
            ++chunk;
        } else if (n != -EINTR) {
            break;
        }
    }
    if (m_rthreshold > 0 && !m_in.isEmpty())
        raise(CommReceive);
    // The kernel answers a vanished device with 0 or EIO, whichever call
    // comes first; it is one loss and reads as one.
    const QString told = m_backend->explain(error);
    m_lossDescription =
        !told.isEmpty() ? QStringLiteral("%1 との接続が切れました。%2").arg(portName(), told)
        : lossKindOf(error) == ErrorKind::Lost ? describeDeviceError(ErrorKind::Lost, portName())
                                               : QStringLiteral("%1 との接続が切れました。理由: %2")
                                                     .arg(portName(), describeErrno(error));
    closePort();
    if (m_reconnector->start(m_opened))
        m_lossDescription += m_opened.port.remote
                                 ? QStringLiteral("サーバーが応じると自動的に接続し直します。")
                                 : QStringLiteral("同じデバイスが戻ると自動的に接続し直します。");
    m_events.mark(reportedByCaller ? CommEventQueue::Closed : CommEventQueue::Lost);
}
