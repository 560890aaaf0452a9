#include "transfer/TransferJob.h"

#include "platform/Failure.h"
#include "sending/SendEngine.h"
#include "transfer/ReceiveFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

const QByteArray TransferJob::cancelBytes(5, '\x18');

namespace {

constexpr int pumpPollMs = 2;
constexpr int watchMs = 100;
constexpr qsizetype readChunk = 4096;

} // namespace

TransferJob::TransferJob(SendPort& port, QObject* parent) : QObject(parent), m_port(port) {
    m_pumpTimer.setSingleShot(true);
    m_pumpTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pumpTimer, &QTimer::timeout, this, &TransferJob::pump);
    m_watch.setInterval(watchMs);
    connect(&m_watch, &QTimer::timeout, this, &TransferJob::watch);
    connect(&m_process, &QProcess::finished, this, &TransferJob::childEnded);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            endChild(End::Failed, m_process.errorString());
    });
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] {
        // A child retrying after a spoiled block says so: it is alive.
        m_report.feed(m_process.readAllStandardError());
        m_lastByteMs = m_clock.elapsed();
    });
}

TransferJob::~TransferJob() {
    m_process.disconnect(this);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(1000); // after SIGKILL: a moment at most
    }
    stopReading();
}

bool TransferJob::start(TransferProtocol protocol, TransferDirection direction,
                        const QStringList& files, const QString& folder, const QByteArray& received,
                        QString* error) {
    if (m_running)
        return false;
    const TransferCommand command = transferCommand(protocol, direction, files);
    const QString program = findTransferProgram(command.program);
    if (program.isEmpty()) {
        *error = QStringLiteral("%1 が見つかりません。lrzsz をｲﾝｽﾄｰﾙしてください。")
                     .arg(command.program);
        return false;
    }
    m_result = Result();
    m_result.protocol = protocol;
    m_result.direction = direction;
    m_folder = folder;
    m_temp.reset();
    QString workDir = QDir::currentPath();
    if (direction == TransferDirection::Receive) {
        // A private folder beside the target, so nothing there is replaced
        // and the finished files move in with one rename.
        if (!QDir().mkpath(folder)) {
            *error = QStringLiteral("受信ﾌｫﾙﾀﾞを作れません: %1").arg(folder);
            return false;
        }
        m_temp = std::make_unique<QTemporaryDir>(QDir(folder).filePath(".velmora-XXXXXX"));
        if (!m_temp->isValid()) {
            *error =
                QStringLiteral("受信ﾌｫﾙﾀﾞに書けません: %1: %2").arg(folder, m_temp->errorString());
            return false;
        }
        workDir = m_temp->path();
    } else {
        for (const QString& file : files) {
            m_result.files << QFileInfo(file).fileName();
            m_result.bytes += QFileInfo(file).size();
        }
    }

    // The child's output comes through a pipe of our own, read only while
    // the port has room: a full pipe holds the child back.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = QStringLiteral("%1 を起動できません: %2")
                     .arg(command.program, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    const int childOut = fds[1];
    m_process.setProgram(program);
    m_process.setArguments(command.arguments);
    m_process.setWorkingDirectory(workDir);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setChildProcessModifier([childOut] { ::dup2(childOut, STDOUT_FILENO); });
    m_report = TransferReport();
    m_exited = m_forced = false;
    m_exitCode = -1;
    m_toPort = m_fromPort = 0;
    m_lastByteMs = 0;
    m_completeMs = m_lastProgressMs = -1;
    m_eotAt = -1;
    m_fileCount = int(files.size());
    m_running = true;
    m_clock.start();
    m_out = fds[0];
    m_notifier = new QSocketNotifier(m_out, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TransferJob::pump);
    m_watch.start();
    m_process.start();
    ::close(childOut);
    if (m_running && !received.isEmpty())
        receivedBytes(received, 0);
    return true;
}

void TransferJob::pump() {
    if (m_out < 0)
        return;
    for (int round = 0; round < 16; ++round) {
        if (m_port.pending() >= lowWater) {
            m_notifier->setEnabled(false);
            m_pumpTimer.start(pumpPollMs);
            return;
        }
        char buffer[readChunk];
        const ssize_t n = ::read(m_out, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n <= 0) {
            stopReading();
            if (m_exited)
                conclude();
            return;
        }
        // XMODEM's EOT goes alone once the last block was taken: blocks are
        // written whole. Whether it was the last is judged from stderr later.
        const bool eot = n == 1 && buffer[0] == '\x04';
        try {
            m_port.write(QByteArray(buffer, n));
        } catch (const Failure& failure) {
            endChild(End::Failed, failure.description());
            return;
        }
        m_toPort += n;
        m_lastByteMs = m_clock.elapsed();
        if (eot)
            m_eotAt = m_toPort;
    }
    m_notifier->setEnabled(true);
}

void TransferJob::stopReading() {
    m_pumpTimer.stop();
    delete m_notifier;
    m_notifier = nullptr;
    if (m_out >= 0)
        ::close(m_out);
    m_out = -1;
}

void TransferJob::receivedBytes(const QByteArray& bytes, qint64 readMs) {
    Q_UNUSED(readMs);
    if (!m_running || m_forced)
        return;
    m_process.write(bytes);
    m_fromPort += bytes.size();
    m_lastByteMs = m_clock.elapsed();
}

bool TransferJob::dataDone() const {
    if (m_report.endedComplete())
        return true;
    if (m_result.direction != TransferDirection::Send)
        return false;
    if (m_result.protocol == TransferProtocol::Xmodem)
        // Nothing followed the EOT, and the block count on stderr (which
        // lags by one) had reached the last block.
        return m_eotAt == m_toPort && m_report.totalBlocks() > 0 &&
               m_report.blocks() >= m_report.totalBlocks() - 2;
    return m_result.protocol == TransferProtocol::Ymodem && m_report.filesSent() >= m_fileCount;
}

void TransferJob::watch() {
    const qint64 now = m_clock.elapsed();
    const bool done = dataDone();
    if (done && m_completeMs < 0)
        m_completeMs = now;
    if (!m_forced && !m_exited) {
        // sx may stay after its last block, sb after its batch: the receiver
        // has the file, and the child is not waited for. A ZMODEM batch may
        // go on after a file: it keeps its exit or the rule below.
        const int grace =
            m_result.protocol == TransferProtocol::Ymodem ? batchGraceMs : completeGraceMs;
        if (m_result.protocol != TransferProtocol::Zmodem && m_completeMs >= 0 &&
            now - m_completeMs >= grace) {
            endChild(End::Completed, QString());
            return;
        }
        // Only once data went both ways (before that the child waits for the
        // device and keeps its own time), and only when the child says
        // nothing either: one retrying a spoiled block reports it.
        if (m_toPort > 0 && m_fromPort > 0 && now - m_lastByteMs >= idleLimitMs) {
            endChild(done ? End::Completed : End::Failed,
                     QStringLiteral("%1 秒間応答がありません").arg(idleLimitMs / 1000));
            return;
        }
    }
    if (m_lastProgressMs < 0 || now - m_lastProgressMs >= watchMs) {
        m_lastProgressMs = now;
        const bool sending = m_result.direction == TransferDirection::Send;
        const qint64 line = sending ? m_toPort : m_fromPort;
        const qint64 rate = now > 0 ? line * 1000 / now : 0;
        emit progress(m_report.file(), m_report.bytes() > 0 ? m_report.bytes() : line,
                      m_report.total(), rate);
    }
}

void TransferJob::endChild(End end, const QString& detail) {
    if (!m_running || m_forced)
        return;
    m_forced = true;
    m_result.end = end;
    m_result.detail = detail;
    if (end != End::Completed)
        stopReading(); // what it still wrote is not for the device
    if (m_process.state() != QProcess::NotRunning)
        m_process.kill(); // finished() follows from the event loop
    else
        childEnded(m_exitCode, m_exitStatus);
}

void TransferJob::cancel() {
    if (!m_running)
        return;
    endChild(End::Cancelled, QString());
    // What is queued for the device goes, the cancel goes in its place.
    m_port.discard();
    try {
        m_port.write(cancelBytes);
    } catch (const Failure&) {
    }
}

void TransferJob::portClosed() {
    endChild(End::Closed, QString());
}

void TransferJob::childEnded(int exitCode, QProcess::ExitStatus status) {
    if (!m_running)
        return;
    m_exited = true;
    m_exitCode = exitCode;
    m_exitStatus = status;
    m_report.feed(m_process.readAllStandardError());
    if (m_out >= 0) {
        pump(); // the rest of its output still goes out; conclude() follows
        return;
    }
    conclude();
}

void TransferJob::conclude() {
    if (!m_running)
        return;
    m_running = false;
    m_watch.stop();
    m_pumpTimer.stop();
    if (!m_forced) {
        if (m_exitStatus == QProcess::NormalExit && m_exitCode == 0) {
            m_result.end = End::Completed;
        } else {
            m_result.end = End::Failed;
            m_result.detail = m_report.lastMessage();
            if (m_result.detail.isEmpty())
                m_result.detail = QStringLiteral("終了ｺｰﾄﾞ %1").arg(m_exitCode);
        }
    }
    const bool receiving = m_result.direction == TransferDirection::Receive;
    if (m_result.end != End::Completed)
        m_result.bytes = m_report.bytes();
    if (receiving && m_temp) {
        if (m_result.end == End::Completed) {
            QString error;
            m_result.files = moveReceived(m_temp->path(), m_folder, &error);
            m_result.bytes = 0;
            for (const QString& name : m_result.files)
                m_result.bytes += QFileInfo(QDir(m_folder).filePath(name)).size();
            if (!error.isEmpty() || m_result.files.isEmpty()) {
                m_result.end = End::Failed;
                m_result.detail = error.isEmpty() ? QStringLiteral("ﾌｧｲﾙが届いていません") : error;
            }
        }
        m_temp.reset(); // a broken file is not left behind
    }
    emit finished(m_result);
}
