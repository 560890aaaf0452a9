#include "serial/DeviceWatcher.h"

#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

DeviceWatcher::DeviceWatcher(QObject* parent) : QObject(parent) {}

DeviceWatcher::~DeviceWatcher() {
    stop();
}

bool DeviceWatcher::watch(const QStringList& dirs) {
    if (m_fd < 0) {
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd < 0)
            return false;
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &DeviceWatcher::onReadable);
    }
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (dirs.contains(it.key())) {
            ++it;
            continue;
        }
        ::inotify_rm_watch(m_fd, it.value());
        it = m_watches.erase(it);
    }
    // Permission changes count: udev opens a new node to the group only
    // after the kernel made it.
    constexpr uint32_t mask = IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR;
    for (const QString& dir : dirs) {
        if (m_watches.contains(dir))
            continue;
        const int wd = ::inotify_add_watch(m_fd, QFile::encodeName(dir).constData(), mask);
        if (wd >= 0)
            m_watches.insert(dir, wd);
    }
    return true;
}

void DeviceWatcher::stop() {
    if (m_fd < 0)
        return;
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
    ::close(m_fd);
    m_fd = -1;
    m_watches.clear();
}

void DeviceWatcher::onReadable() {
    alignas(inotify_event) char buffer[4096];
    QStringList changed;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            // A folder that went away loses its watch; it is added again
            // when it comes back.
            for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                const QString dir = m_watches.key(event->wd);
                if (event->len > 0 && !dir.isEmpty())
                    changed << dir + QLatin1Char('/') + QFile::decodeName(event->name);
                if (event->mask & IN_IGNORED) {
                    for (auto it = m_watches.begin(); it != m_watches.end(); ++it) {
                        if (it.value() == event->wd) {
                            m_watches.erase(it);
                            break;
                        }
                    }
                }
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (!changed.isEmpty())
        emit this->changed(changed);
}
