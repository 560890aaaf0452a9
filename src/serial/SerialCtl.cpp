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
    : SerialCtl(std::move(backend), SystemPaths::live(), parent) {}

SerialCtl::SerialCtl(std::unique_ptr<SerialBackend> backend, const SystemPaths& paths,
                     QObject* parent)
    : ISerialCtl(parent), m_opener(paths), m_codePage(systemCodePage()) {
    m_deliverTimer = new QTimer(this);
    m_deliverTimer->setSingleShot(true);
    m_deliverTimer->setInterval(0);
    connect(m_deliverTimer, &QTimer::timeout, this, &SerialCtl::deliver);
    m_connectTimer = new QTimer(this);
    m_connectTimer->setInterval(20);
    connect(m_connectTimer, &QTimer::timeout, this, &SerialCtl::settleConnecting);
    m_answerTimer = new QTimer(this);
    m_answerTimer->setInterval(20);
    connect(m_answerTimer, &QTimer::timeout, this, &SerialCtl::checkAnswers);
    m_reconnector = new Reconnector(
        paths, [this](const ResolvedPort& port) { return reopen(port); }, this);
    PortSession::Owner& owner = *this;
    m_session =
        std::make_unique<PortSession>(std::move(backend), std::make_unique<PortLock>(paths), owner);
    setParityReplace(m_parityReplace);
}

SerialCtl::~SerialCtl() {
    stopWaiting();
    if (m_connecting)
        cancelConnecting();
    if (m_session->isOpen()) {
        const QSignalBlocker quiet(this);
        closePort();
    }
}

QString SerialCtl::portName() const {
    return m_display.isEmpty() ? QStringLiteral("Com%1").arg(m_port)
                               : QStringLiteral("Com%1 (%2)").arg(m_port).arg(m_display);
}

bool SerialCtl::PortOpen() const {
    return m_session->isOpen();
}

void SerialCtl::setPortOpen(bool open) {
    stopWaiting();
    if (m_connecting) {
        // Already on its way.
        if (open)
            return;
        cancelConnecting();
        emit PortClosed();
        return;
    }
    if (open == m_session->isOpen())
        return;
    if (open) {
        openPort();
        return;
    }
    closePort();
    // Read by polling, what is left would otherwise be announced later, as
    // RThreshold is raised on the closed port.
    if (m_rthreshold == 0)
        m_session->clearInput();
    m_events.clear();
    emit PortClosed();
}

QString SerialCtl::configFor(LineConfig& config) const {
    const QString refusal = m_settings.toConfig(m_handshaking, config);
    if (refusal.isEmpty())
        return {};
    return QStringLiteral("Com%1 を開けません: %2 (設定 %3)")
        .arg(m_port)
        .arg(refusal, m_settings.compose());
}

QString SerialCtl::describe(const OpenFailure& failure) const {
    const QString head = QStringLiteral("Com%1 を開けません: ").arg(m_port);
    const QString& device = failure.port.display;
    const PortLock::Result& lock = failure.lock;
    switch (failure.cause) {
    case OpenFailure::Cause::None:
        break;
    case OpenFailure::Cause::NotFound:
        return head + QStringLiteral("シリアル デバイスが見つかりません "
                                     "(見つかったデバイスは %1 個)。%2 に com%3 という"
                                     "リンクを作ると、任意のデバイスを割り当てられます。")
                          .arg(failure.port.present)
                          .arg(m_opener.paths().ports)
                          .arg(m_port);
    case OpenFailure::Cause::Lock:
        switch (lock.outcome) {
        case PortLock::Outcome::Taken:
            break;
        case PortLock::Outcome::HeldByLive:
            return head + describeLockHeld(device, lock.lockPath,
                                           {lock.pid, processName(lock.pid, m_opener.paths())});
        case PortLock::Outcome::NotAPid:
            return head + describeLockNotAPid(device, lock.lockPath, lock.content);
        case PortLock::Outcome::Unreadable:
            return head + describeLockUnreadable(device, lock.lockPath, lock.error);
        case PortLock::Outcome::StaleKept:
            return head + describeStaleLockKept(device, lock.lockPath, lock.pid, lock.error);
        }
        break;
    case OpenFailure::Cause::Device: {
        const QString told = m_session->backend().explain(failure.error);
        QString text = !told.isEmpty()
                           ? head + told
                           : head + describeDeviceError(failure.kind(), device) +
                                 QStringLiteral("理由: ") + describeErrno(failure.error);
        if (failure.kind() == ErrorKind::Busy)
            text += QStringLiteral("。") + busyDescription(failure.port.path);
        return text;
    }
    }
    return head;
}

QString SerialCtl::busyDescription(const QString& device) const {
    const SystemPaths& paths = m_opener.paths();
    const QList<ProcessRef> holders = portHolders(device, paths);
    return describeHolders(holders, holders.isEmpty() ? deviceGrabbers(paths) : QList<ProcessRef>(),
                           deviceIdentity(device, paths).usbId());
}

bool SerialCtl::waitingForDevice() const {
    return m_reconnector->waiting();
}

void SerialCtl::setLockDirs(const QStringList& dirs) {
    SystemPaths paths = m_opener.paths();
    paths.lockDirs = dirs;
    m_session->setLock(std::make_unique<PortLock>(paths));
}

void SerialCtl::closePort() {
    m_answerTimer->stop();
    m_changing = false;
    m_session->close();
}

qint16 SerialCtl::CommPort() const {
    return m_port;
}

void SerialCtl::setCommPort(qint16 port) {
    if (port < 1 || port > 16)
        throw Failure(QStringLiteral("ポート番号 %1 は使えません (1 から 16 まで)。").arg(port),
                      ErrorKind::Refused);
    if ((m_session->isOpen() || connecting()) && port != m_port)
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
    if (value > 0 && m_session->isOpen() && m_session->input().size() >= value) {
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
    m_session->setReplacement(encodeText(m_parityReplace, m_codePage));
}

bool SerialCtl::DTREnable() const {
    return m_dtr;
}

void SerialCtl::setDTREnable(bool enable) {
    if (m_session->isOpen()) {
        const int rc = m_session->setDtr(enable);
        if (rc < 0 && !noSuchControl(rc) && !noticeUnconfirmed(rc, QStringLiteral("DTR")))
            throw Failure(QStringLiteral("%1 の DTR 信号を変更できません。理由: %2")
                              .arg(portName(), describeErrno(-rc)));
    }
    m_dtr = enable;
}

bool SerialCtl::noticeUnconfirmed(int rc, const QString& line) {
    if (rc == -EINPROGRESS) {
        awaitAnswers();
        return true;
    }
    if (rc != -ETIMEDOUT)
        return false;
    const QString text =
        QStringLiteral("%1 の %2 信号の変更を送りましたが、確認の応答がありません。")
            .arg(portName(), line);
    QMetaObject::invokeMethod(
        this, [this, text] { emit Notice(text); }, Qt::QueuedConnection);
    return true;
}

bool SerialCtl::CTSHolding() const {
    const int bits = m_session->modemLines();
    return bits >= 0 && (bits & LineCTS);
}

bool SerialCtl::DSRHolding() const {
    const int bits = m_session->modemLines();
    return bits >= 0 && (bits & LineDSR);
}

QByteArray SerialCtl::codePage() const {
    return m_codePage;
}

void SerialCtl::setCodePage(const QByteArray& codePage) {
    m_codePage = codePage;
    m_session->setReplacement(encodeText(m_parityReplace, m_codePage));
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
        const QByteArray& in = m_session->input();
        if (code == CommReceive && (m_rthreshold <= 0 || in.isEmpty()))
            continue;
        const quint64 takenBefore = m_takenCount;
        m_event = qint16(code);
        emit OnComm();
        // A handler that took part of the data (InputLen) gets the rest
        // announced again, from the event loop rather than from here.
        if (code == CommReceive && m_takenCount != takenBefore && m_rthreshold > 0 &&
            m_session->input().size() >= m_rthreshold)
            again = true;
    }
    if (again) {
        raise(CommReceive);
        deliverLater();
    }
}

QByteArray SerialCtl::Input() {
    const QByteArray taken = m_session->take(m_inputLen, &m_inputReads);
    if (!taken.isEmpty())
        ++m_takenCount;
    return taken;
}

void SerialCtl::received() {
    if (m_rthreshold > 0 && m_session->input().size() >= m_rthreshold)
        raise(CommReceive);
}

qint16 SerialCtl::OutBufferCount() const {
    return qint16(std::min(m_session->outCount(), 32767));
}

void SerialCtl::setOutput(const QString& text) {
    if (!m_session->isOpen())
        throw Failure(QStringLiteral("Com%1 は開いていないため送信できません。").arg(m_port));
    queueOutput(encodeText(text, m_codePage), false);
}

void SerialCtl::setOutputBytes(const QByteArray& bytes) {
    if (!m_session->isOpen())
        throw Failure(QStringLiteral("Com%1 は開いていないため送信できません。").arg(m_port));
    // A paced piece is timed from when it leaves.
    queueOutput(bytes, true);
}

void SerialCtl::queueOutput(const QByteArray& bytes, bool atOnce) {
    const int queued = m_session->queued();
    if (queued + bytes.size() > sendLimit) {
        raise(CommErrorTxFull);
        deliverLater();
        throw Failure(QStringLiteral("送信バッファーがいっぱいのため %1 バイトを送信できません "
                                     "(未送信 %2 バイト)。")
                          .arg(bytes.size())
                          .arg(queued));
    }
    if (!bytes.isEmpty())
        m_session->send(bytes, atOnce);
}

void SerialCtl::sendLevel(int before, int now) {
    if (m_sthreshold > 0 && before >= m_sthreshold && now < m_sthreshold)
        raise(CommSend);
}

void SerialCtl::lost(int error, bool reportedByCaller) {
    if (m_rthreshold > 0 && !m_session->input().isEmpty())
        raise(CommReceive);
    // The kernel answers a vanished device with 0 or EIO, whichever call
    // comes first; it is one loss and reads as one.
    const QString told = m_session->backend().explain(error);
    m_lossDescription = !told.isEmpty()
                            ? QStringLiteral("%1 との接続が切れました。%2").arg(portName(), told)
                        : lossKindOf(error) == ErrorKind::Lost
                            ? describeDeviceError(ErrorKind::Lost, portName())
                            : QStringLiteral("%1 との接続が切れました。理由: %2。")
                                  .arg(portName(), describeErrno(error));
    if (m_reconnector->start(m_opened))
        m_lossDescription += m_opened.port.remote
                                 ? QStringLiteral("サーバーが応じると自動的に接続し直します。")
                                 : QStringLiteral("同じデバイスが戻ると自動的に接続し直します。");
    else if (m_reconnector->gaveUp())
        m_lossDescription += QStringLiteral("接続し直すたびにすぐ切れるため、"
                                            "自動的には接続し直しません。");
    m_events.mark(reportedByCaller ? CommEventQueue::Closed : CommEventQueue::Lost);
}
