#include "serial/Reconnector.h"

#include "serial/DeviceWatcher.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <sys/stat.h>
#include <utility>

namespace {

// A loss is seen before the node goes: the first look waits for that.
constexpr int firstLookMs = 500;
// Events come in bursts (node, then its permissions, then links).
constexpr int settleMs = 50;
constexpr int maxRetryMs = 2000;
// A device that is there but keeps refusing is tried again only on events.
constexpr int maxTimedRetries = 10;
// Lost again this soon after a reconnect, that many times in a row: a device
// that opens and fails at once is left alone.
constexpr qint64 quickLossMs = 5000;
constexpr int maxQuickLosses = 3;
// Without inotify the folders are looked at on a timer.
constexpr int pollMs = 1000;
// A server is asked again and again, less often each time.
constexpr int firstRemoteMs = 500;
constexpr int maxRemoteMs = 10000;

// Inode and change time: a link made anew differs in one of them even where
// the file system hands out the freed inode number again.
QString stampOf(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QStringLiteral("%1 %2.%3")
        .arg(qulonglong(st.st_ino))
        .arg(qlonglong(st.st_ctim.tv_sec))
        .arg(qlonglong(st.st_ctim.tv_nsec));
}

bool isCharDevice(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

QString deepestExisting(QString dir) {
    while (!QFileInfo(dir).isDir() && dir.size() > 1)
        dir = QFileInfo(dir).path();
    return dir;
}

} // namespace

OpenedDevice OpenedDevice::of(int number, const ResolvedPort& port, const SystemPaths& paths) {
    OpenedDevice opened;
    opened.number = number;
    opened.port = port;
    if (port.pinned) {
        opened.linkTarget = QFileInfo(port.path).symLinkTarget();
        opened.linkStamp = stampOf(port.path);
    }
    opened.identity = deviceIdentity(port.path, paths);
    return opened;
}

Reconnector::Reconnector(SystemPaths paths, Reopen reopen, QObject* parent)
    : QObject(parent), m_paths(std::move(paths)), m_reopen(std::move(reopen)),
      m_watcher(new DeviceWatcher(this)), m_settle(new QTimer(this)), m_clock([] {
          return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count());
      }) {
    m_settle->setSingleShot(true);
    connect(m_settle, &QTimer::timeout, this, &Reconnector::look);
    connect(m_watcher, &DeviceWatcher::changed, this, [this](const QStringList& paths) {
        // Other nodes coming and going are no reason to try again.
        if (!concerns(paths))
            return;
        // The first look after the loss keeps its delay; a retry is brought forward.
        if (!m_settle->isActive() || (m_failures > 0 && m_settle->remainingTime() > settleMs))
            m_settle->start(settleMs);
    });
}

bool Reconnector::start(const OpenedDevice& lost) {
    finish();
    const bool quick = m_reconnectedAt >= 0 && m_clock() - m_reconnectedAt < quickLossMs;
    m_quickLosses = quick ? m_quickLosses + 1 : 0;
    m_reconnectedAt = -1;
    m_gaveUp = m_quickLosses >= maxQuickLosses;
    if (m_gaveUp || (!lost.port.pinned && !lost.identity.isValid()))
        return false;
    m_lost = lost;
    m_waiting = true;
    m_failures = 0;
    if (lost.port.remote) {
        m_remoteDelay = firstRemoteMs;
        m_settle->start(m_remoteDelay);
        return true;
    }
    m_polling = !m_watcher->watch(watchedDirs());
    m_settle->start(firstLookMs);
    return true;
}

void Reconnector::stop() {
    finish();
    m_reconnectedAt = -1;
    m_quickLosses = 0;
}

void Reconnector::finish() {
    m_waiting = false;
    m_trying = false;
    m_settle->stop();
    m_watcher->stop();
}

int Reconnector::nextLookIn() const {
    return m_settle->isActive() ? m_settle->interval() : -1;
}

void Reconnector::look() {
    m_settle->stop();
    if (!m_waiting || m_trying)
        return;
    // Folders on the way to the device may have appeared (/dev/serial/by-id).
    if (!m_lost.port.remote)
        m_polling = !m_watcher->watch(watchedDirs());
    const ResolvedPort port = returned();
    if (port.path.isEmpty() && !m_lost.port.remote) {
        if (m_polling)
            m_settle->start(pollMs);
        return;
    }
    const Reopened got = port.path.isEmpty() ? Reopened::No : m_reopen(port);
    m_trying = got == Reopened::Later;
    if (!m_trying)
        tried(got == Reopened::Yes);
}

void Reconnector::tried(bool reopened) {
    m_trying = false;
    if (reopened) {
        finish();
        m_reconnectedAt = m_clock();
        return;
    }
    if (m_lost.port.remote) {
        // The user may have stopped the wait from inside the attempt.
        if (m_waiting)
            m_settle->start(std::exchange(m_remoteDelay, std::min(m_remoteDelay * 2, maxRemoteMs)));
        return;
    }
    ++m_failures;
    if (m_failures <= maxTimedRetries || m_polling)
        m_settle->start(std::min(maxRetryMs, 100 << std::min(m_failures, 5)));
}

ResolvedPort Reconnector::returned() const {
    if (m_lost.port.remote) {
        const ResolvedPort port =
            resolvePort(m_lost.number, QFileInfo(m_lost.port.path).path(), {});
        return port.remote ? port : ResolvedPort();
    }
    if (m_lost.port.pinned) {
        const QString& link = m_lost.port.path;
        const QString device = QFileInfo(link).canonicalFilePath();
        if (device.isEmpty() || !isCharDevice(device))
            return {};
        if (m_lost.identity.isValid()) {
            if (!sameDevice(m_lost.identity, deviceIdentity(device, m_paths)))
                return {};
        } else if (stampOf(link) == m_lost.linkStamp &&
                   QFileInfo(link).symLinkTarget() == m_lost.linkTarget) {
            // The same old link: its pty number may belong to someone else by now.
            return {};
        }
        return resolvePort(m_lost.number, QFileInfo(link).path(), {});
    }
    // Two adapters answering to its description: no guessing, wait.
    ResolvedPort port;
    for (const QString& device : presentSerialDevices(m_paths)) {
        if (!sameDevice(m_lost.identity, deviceIdentity(device, m_paths)))
            continue;
        if (!port.path.isEmpty())
            return {};
        port.path = port.display = device;
    }
    return port;
}

bool Reconnector::concerns(const QStringList& paths) const {
    for (const QString& path : paths) {
        if (!m_lost.port.pinned) {
            const QString name = QFileInfo(path).fileName();
            if (name.startsWith(QLatin1String("ttyUSB")) ||
                name.startsWith(QLatin1String("ttyACM")) || name.startsWith(QLatin1String("ttyS")))
                return true;
            continue;
        }
        for (const QString& hop : m_hops) {
            if (hop == path || hop.startsWith(path + QLatin1Char('/')))
                return true;
        }
    }
    return false;
}

QStringList Reconnector::watchedDirs() {
    QStringList dirs{m_paths.dev};
    m_hops.clear();
    if (m_lost.port.pinned) {
        // Every hop of the link chain: comN, /dev/serial/by-id/…, the node.
        QString hop = m_lost.port.path;
        for (int step = 0; step < 8; ++step) {
            const QString dir = deepestExisting(QFileInfo(hop).path());
            if (!dirs.contains(dir))
                dirs << dir;
            m_hops << hop;
            const QFileInfo info(hop);
            if (!info.isSymLink())
                break;
            hop = info.symLinkTarget();
        }
    }
    return dirs;
}
