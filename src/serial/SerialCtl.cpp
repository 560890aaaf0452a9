#include "serial/SerialCtl.h"

#include "platform/CodePage.h"
#include "platform/Failure.h"
#include "platform/SystemError.h"
#include "serial/LineSettings.h"
#include "serial/PortHolder.h"
#include "serial/PortResolver.h"
#include "serial/RemoteBackend.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <utility>

namespace {

constexpr int pollInterval = 30;

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

SerialCtl::SerialCtl(QObject* parent) : SerialCtl(makePortBackend(), parent) {}

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
    m_events.clear();
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
        const QString told = m_backend->explain(error);
        QString text = !told.isEmpty() ? head + told
                                       : head + describeDeviceError(kind, port.display) +
                                             QStringLiteral("理由: ") + describeErrno(error);
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
    // Opening raises RTS by itself; only a lowered RTS needs saying again.
    if (!m_rts && rtsIsOurs())
        m_backend->setRts(false);

    m_hasModemLines = m_backend->modemLines(m_lines) == 0;
    m_hasCounters = m_backend->counters(m_counters) == 0;
    m_marking = m_backend->marksLineErrors();
    m_decoder.reset();
    m_out.clear();
    m_lastOutCount = 0;
    m_events.clear();

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
    m_events.mark(CommEventQueue::Reconnected);
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

void SerialCtl::raise(int code) {
    m_events.raise(code);
}

void SerialCtl::deliverLater() {
    m_deliverTimer->start();
}

void SerialCtl::deliver() {
    // Only the event loop calls this, so a call while delivering comes from a
    // nested loop (a handler's message box): the line goes on being served
    // there, in order, from the same queue.
    bool again = false;
    while (!m_events.isEmpty()) {
        const int code = m_events.takeFirst();
        if (code == CommEventQueue::Lost || code == CommEventQueue::Closed) {
            emit PortClosed();
            if (code == CommEventQueue::Lost)
                emit DeviceLost(m_lossDescription);
            continue;
        }
        if (code == CommEventQueue::Reconnected) {
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
