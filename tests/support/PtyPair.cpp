#include "PtyPair.h"
#include "PortsConfig.h"

#include <QDeadlineTimer>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

PtyPair::PtyPair() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0)
        return;
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        ::close(master);
        return;
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return;
    }
    m_master = master;
    m_slavePath = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair() {
    closeMaster();
}

bool PtyPair::write(const QByteArray& bytes, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    qsizetype done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (deadline.hasExpired())
            return false;
        pollfd p{m_master, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
    return done == bytes.size();
}

QByteArray PtyPair::read(int count, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QByteArray result;
    char buffer[4096];
    while (m_master >= 0 && result.size() < count && !deadline.hasExpired()) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, int(std::min<qint64>(deadline.remainingTime(), 50))) <= 0)
            continue;
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0)
            result.append(buffer, n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            ::usleep(10000); // EIO while no slave is open
    }
    return result;
}

QByteArray PtyPair::readUntil(const QByteArray& text, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QByteArray result;
    while (!result.contains(text) && !deadline.hasExpired())
        result += read(1, int(std::max<qint64>(deadline.remainingTime(), 1)));
    return result;
}

void PtyPair::closeMaster() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyPair::pinAsCom1() const {
    PortsConfig::pin(1, m_slavePath);
}
