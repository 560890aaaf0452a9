#include "serial/SerialCtl.h"

#include "platform/CodePage.h"
#include "platform/Failure.h"
#include "platform/SystemError.h"
#include "serial/LineSettings.h"
#include "serial/PortHolder.h"
#include "serial/PortResolver.h"
#include "serial/TermiosHelpers.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Stand in the event queue for "emit PortClosed and DeviceLost" and for
// "emit PortClosed" alone, and for "emit Reconnected".
constexpr int lostMarker = -1;
constexpr int closedMarker = -2;
constexpr int reconnectedMarker = -3;
constexpr int pollInterval = 30;
// What is still read from a line that has gone, after the reader stopped.
constexpr long finalReadSize = 64 * 1024;
constexpr int finalReads = 4;
// Read but not yet in the receive buffer: enough for the UI thread to stall
// for a third of a second at 12 Mbit/s without holding the line back.
constexpr long queueLimit = 512 * 1024;
// Taken into the receive buffer per event-loop round.
constexpr long takeSize = 64 * 1024;

// The first character, a surrogate pair kept whole.
QString firstCharacter(const QString& text) {
    if (text.size() >= 2 && text.at(0).isHighSurrogate() && text.at(1).isLowSurrogate())
        return text.left(2);
    return text.left(1);
}

bool noSuchControl(int rc) {
    return rc == -ENOTTY || rc == -EINVAL;
}

} // namespace

SerialCtl::SerialCtl(QObject* parent) : SerialCtl(makeTermiosBackend(), parent) {}

SerialCtl::SerialCtl(std::unique_ptr<SerialBackend> backend, QObject* parent)
    : ISerialCtl(parent), m_backend(std::move(backend)), m_codePage(systemCodePage()) {
    setParityReplace(m_parityReplace);
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(pollInterval);
    connect(m_pollTimer, &QTimer::timeout, this, &SerialCtl::onPoll);
    m_deliverTimer = new QTimer(this);
    m_deliverTimer->setSingleShot(true);
    m_deliverTimer->setInterval(0);
    connect(m_deliverTimer, &QTimer::timeout, this, &SerialCtl::deliver);
    m_lock = std::make_unique<PortLock>();
    m_reconnector =
        new Reconnector([this](const ResolvedPort& port) { return reopen(port); }, this);
}

SerialCtl::~SerialCtl() {
    m_reconnector->stop();
    if (m_open) {
        const QSignalBlocker quiet(this);
        closePort();
    }
}

QString SerialCtl::portName() const {
    return m_display.isEmpty() ? QStringLiteral("Com%1").arg(m_port)
                               : QStringLiteral("Com%1 (%2)").arg(m_port).arg(m_display);
}

// Opening and closing

bool SerialCtl::PortOpen() const {
    return m_open;
}

void SerialCtl::setPortOpen(bool open) {
    stopWaiting();
    if (open == m_open)
        return;
    if (open) {
        openPort();
        return;
    }
    closePort();
    m_pending.clear();
    emit PortClosed();
}

void SerialCtl::openPort() {
    LineConfig config;
    const QString refusal = m_settings.toConfig(m_handshaking, config);
    if (!refusal.isEmpty())
        throw Failure(QStringLiteral("Com%1 を開けません: %2 (設定 %3)")
                          .arg(m_port)
                          .arg(refusal, m_settings.compose()),
                      ErrorKind::Refused);

    const QStringList present = presentSerialDevices();
    const ResolvedPort port = resolvePort(m_port, portLinkDir(), present);
    if (port.path.isEmpty())
        throw Failure(QStringLiteral("Com%1 を開けません: シリアル デバイスが見つかりません "
                                     "(見つかったデバイスは %2 個)。%3 に com%1 という"
                                     "リンクを作ると、任意のデバイスを割り当てられます。")
                          .arg(m_port)
                          .arg(port.present)
                          .arg(portLinkDir()));
    openDevice(port, config);
    m_in.clear();
}

void SerialCtl::openDevice(const ResolvedPort& port, const LineConfig& config) {
    const QString head = QStringLiteral("Com%1 を開けません: ").arg(m_port);
    const PortLock::Result lock = m_lock->acquire(port.path);
    switch (lock.outcome) {
    case PortLock::Outcome::Taken:
        break;
    case PortLock::Outcome::HeldByLive:
        throw Failure(
            head + describeLockHeld(port.display, lock.lockPath, {lock.pid, processName(lock.pid)}),
            ErrorKind::Busy);
    case PortLock::Outcome::NotAPid:
        throw Failure(head + describeLockNotAPid(port.display, lock.lockPath, lock.content));
    case PortLock::Outcome::Unreadable:
        throw Failure(head + describeLockUnreadable(port.display, lock.lockPath, lock.error));
    case PortLock::Outcome::StaleKept:
        throw Failure(head +
                      describeStaleLockKept(port.display, lock.lockPath, lock.pid, lock.error));
    }

    const int rc = m_backend->open(port.path);
    if (rc < 0) {
        m_lock->release();
        const int error = -rc;
        const ErrorKind kind = errorKindOf(error);
        QString text = head + describeDeviceError(kind, port.display) + QStringLiteral("理由: ") +
                       describeErrno(error);
        if (kind == ErrorKind::Busy)
            text += QStringLiteral("。") + busyDescription(port.path);
        throw Failure(text, kind);
    }
    m_display = port.display;
    try {
        applyConfig(config, nullptr);
    } catch (const Failure&) {
        m_backend->close();
        m_lock->release();
        throw;
    }
    const int dtr = m_backend->setDtr(m_dtr);
    Q_UNUSED(dtr); // a pty has no DTR; a real failure shows in DTREnable's set

    m_hasModemLines = m_backend->modemLines(m_lines) == 0;
    m_hasCounters = m_backend->counters(m_counters) == 0;
    m_marking = m_backend->marksLineErrors();
    m_decoder.reset();
    m_out.clear();
    m_lastOutCount = 0;
    m_pending.clear();

    m_inFull = false;
    m_reader = std::make_unique<SerialReader>(*m_backend, queueLimit, [this] { takeLater(); });
    m_writeNotifier = new QSocketNotifier(m_backend->fd(), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SerialCtl::onWritable);
    m_open = true;
    if (m_hasModemLines || m_hasCounters)
        m_pollTimer->start();
    m_opened = OpenedDevice::of(m_port, port);
}

QString SerialCtl::busyDescription(const QString& device) const {
    const QList<ProcessRef> holders = portHolders(device);
    return describeHolders(holders, holders.isEmpty() ? deviceGrabbers() : QList<ProcessRef>(),
                           deviceIdentity(device).usbId());
}

bool SerialCtl::reopen(const ResolvedPort& port) {
    LineConfig config;
    if (!m_settings.toConfig(m_handshaking, config).isEmpty())
        return false;
    try {
        openDevice(port, config);
    } catch (const Failure&) {
        return false; // still away, busy or not ready: the wait goes on
    }
    const QString device = QFileInfo(port.path).canonicalFilePath();
    m_reconnectDescription = QStringLiteral("Com%1 に再接続しました (%2)。")
                                 .arg(m_port)
                                 .arg(device.isEmpty() ? port.display : device);
    m_pending.append(reconnectedMarker);
    deliverLater();
    return true;
}

void SerialCtl::stopWaiting() {
    m_reconnector->stop();
}

bool SerialCtl::waitingForDevice() const {
    return m_reconnector->waiting();
}

void SerialCtl::setLockDirs(const QStringList& dirs) {
    m_lock = std::make_unique<PortLock>(dirs);
}

void SerialCtl::closePort() {
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

void SerialCtl::applyConfig(const LineConfig& config, const LineConfig* restore) {
    int rc = m_backend->apply(config);
    if (rc < 0) {
        if (m_open && rc == -EIO) {
            lose(EIO, true);
            deliverLater();
            throw Failure(m_lossDescription, ErrorKind::Lost);
        }
        if (restore)
            m_backend->apply(*restore);
        throw Failure(QStringLiteral("%1 の設定を変更できません。理由: %2")
                          .arg(portName(), describeErrno(-rc)));
    }
    LineConfig actual;
    rc = m_backend->readBack(actual);
    if (rc < 0) {
        if (m_open) {
            raise(CommErrorConfig);
            deliverLater();
        }
        // Refused sets keep the old value, so the port gets it back too.
        if (restore)
            m_backend->apply(*restore);
        throw Failure(QStringLiteral("%1 の設定を読み取れません。理由: %2")
                          .arg(portName(), describeErrno(-rc)));
    }
    LineConfig sameRate = actual;
    sameRate.speed = config.speed;
    if (sameRate != config || !rateWithinTolerance(config.speed, actual.speed)) {
        if (restore)
            m_backend->apply(*restore);
        throw Failure(QStringLiteral("%1 は設定 %2 を受け付けませんでした。実際の設定: %3")
                          .arg(portName(),
                               LineSettings::fromConfig(config).describe(config.handshaking),
                               LineSettings::fromConfig(actual).describe(actual.handshaking)));
    }
    // A rate a little off is what UARTs make; the request stands.
    m_applied = config;
}

// Properties

qint16 SerialCtl::CommPort() const {
    return m_port;
}

void SerialCtl::setCommPort(qint16 port) {
    if (port < 1 || port > 16)
        throw Failure(QStringLiteral("ポート番号 %1 は使えません (1 から 16 まで)。").arg(port),
                      ErrorKind::Refused);
    if (m_open && port != m_port)
        throw Failure(QStringLiteral("ポートが開いている間はポート番号を変更できません。"),
                      ErrorKind::Refused);
    if (port != m_port) {
        m_display.clear();
        stopWaiting();
    }
    m_port = port;
}

QString SerialCtl::Settings() const {
    return m_settings.compose();
}

void SerialCtl::setSettings(const QString& text) {
    const QString refusal = LineSettings::validate(text);
    if (!refusal.isEmpty())
        throw Failure(refusal, ErrorKind::Refused);
    const LineSettings settings = *LineSettings::parse(text);
    if (m_open)
        applyToOpenPort(settings, m_handshaking);
    m_settings = settings;
}

qint32 SerialCtl::Handshaking() const {
    return m_handshaking;
}

void SerialCtl::setHandshaking(qint32 mode) {
    if (mode < 0 || mode > 3)
        throw Failure(QStringLiteral("フロー制御の値 %1 は使えません (0 から 3 まで)。").arg(mode),
                      ErrorKind::Refused);
    if (m_open)
        applyToOpenPort(m_settings, mode);
    m_handshaking = mode;
}

void SerialCtl::applyToOpenPort(const LineSettings& settings, int handshaking) {
    LineConfig config;
    const QString refusal = settings.toConfig(handshaking, config);
    if (!refusal.isEmpty())
        throw Failure(QStringLiteral("%1 に設定 %2 を適用できません: %3")
                          .arg(portName(), settings.compose(), refusal));
    const LineConfig previous = m_applied;
    applyConfig(config, &previous);
}

qint16 SerialCtl::InputLen() const {
    return m_inputLen;
}

void SerialCtl::setInputLen(qint16 value) {
    if (value < 0)
        throw Failure(QStringLiteral("InputLen に負の値 (%1) は設定できません。").arg(value),
                      ErrorKind::Refused);
    m_inputLen = value;
}

qint16 SerialCtl::RThreshold() const {
    return m_rthreshold;
}

void SerialCtl::setRThreshold(qint16 value) {
    if (value < 0)
        throw Failure(QStringLiteral("RThreshold に負の値 (%1) は設定できません。").arg(value),
                      ErrorKind::Refused);
    m_rthreshold = value;
    if (value > 0 && m_in.size() >= value) {
        raise(CommReceive);
        deliverLater();
    }
}

qint16 SerialCtl::SThreshold() const {
    return m_sthreshold;
}

void SerialCtl::setSThreshold(qint16 value) {
    if (value < 0)
        throw Failure(QStringLiteral("SThreshold に負の値 (%1) は設定できません。").arg(value),
                      ErrorKind::Refused);
    m_sthreshold = value;
}

QString SerialCtl::ParityReplace() const {
    return m_parityReplace;
}

void SerialCtl::setParityReplace(const QString& value) {
    m_parityReplace = firstCharacter(value);
    m_replacement = encodeText(m_parityReplace, m_codePage);
}

bool SerialCtl::DTREnable() const {
    return m_dtr;
}

void SerialCtl::setDTREnable(bool enable) {
    if (m_open) {
        const int rc = m_backend->setDtr(enable);
        if (rc < 0 && !noSuchControl(rc))
            throw Failure(QStringLiteral("%1 の DTR 信号を変更できません。理由: %2")
                              .arg(portName(), describeErrno(-rc)));
    }
    m_dtr = enable;
}

bool SerialCtl::CTSHolding() const {
    int bits = 0;
    return m_open && m_hasModemLines && m_backend->modemLines(bits) == 0 && (bits & LineCTS);
}

bool SerialCtl::DSRHolding() const {
    int bits = 0;
    return m_open && m_hasModemLines && m_backend->modemLines(bits) == 0 && (bits & LineDSR);
}

QByteArray SerialCtl::codePage() const {
    return m_codePage;
}

void SerialCtl::setCodePage(const QByteArray& codePage) {
    m_codePage = codePage;
    m_replacement = encodeText(m_parityReplace, m_codePage);
}

qint16 SerialCtl::CommEvent() const {
    return m_event;
}

// Receiving

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

// Sending

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
    const QByteArray bytes = encodeText(text, m_codePage);
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

// Line state

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
    // frame, parity and break are matched to marked bytes as they are read.
    now.frame = m_counters.frame;
    now.parity = m_counters.parity;
    now.brk = m_counters.brk;
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
    m_lossDescription = lossKindOf(error) == ErrorKind::Lost
                            ? describeDeviceError(ErrorKind::Lost, portName())
                            : QStringLiteral("%1 との接続が切れました。理由: %2")
                                  .arg(portName(), describeErrno(error));
    closePort();
    if (m_reconnector->start(m_opened))
        m_lossDescription += QStringLiteral("同じデバイスが戻ると自動的に接続し直します。");
    m_pending.append(reportedByCaller ? closedMarker : lostMarker);
}

// Events

void SerialCtl::raise(int code) {
    if (!m_pending.contains(code))
        m_pending.append(code);
}

void SerialCtl::deliverLater() {
    m_deliverTimer->start();
}

void SerialCtl::deliver() {
    // Only the event loop calls this, so a call while delivering comes from a
    // nested loop (a handler's message box): the line goes on being served
    // there, in order, from the same queue.
    bool again = false;
    while (!m_pending.isEmpty()) {
        const int code = m_pending.takeFirst();
        if (code == lostMarker || code == closedMarker) {
            emit PortClosed();
            if (code == lostMarker)
                emit DeviceLost(m_lossDescription);
            continue;
        }
        if (code == reconnectedMarker) {
            emit Reconnected(m_reconnectDescription);
            continue;
        }
        if (code == CommReceive && (m_rthreshold <= 0 || m_in.isEmpty()))
            continue;
        const quint64 takenBefore = m_takenCount;
        m_event = qint16(code);
        emit OnComm();
        // A handler that took part of the data (InputLen) gets the rest
        // announced again, from the event loop rather than from here.
        if (code == CommReceive && m_takenCount != takenBefore && m_rthreshold > 0 &&
            m_in.size() >= m_rthreshold)
            again = true;
    }
    if (again) {
        raise(CommReceive);
        deliverLater();
    }
}
