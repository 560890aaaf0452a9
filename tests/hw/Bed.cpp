#include "Bed.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

Bed::Bed() {
    m_fd = ::open("/dev/bed-ctl", O_RDWR | O_CLOEXEC);
}

Bed::~Bed() {
    if (m_fd >= 0)
        ::close(m_fd);
}

QString Bed::ask(const QString& request) {
    if (m_fd < 0)
        return QStringLiteral("err no control channel");
    const QByteArray line = request.toUtf8() + '\n';
    for (qsizetype done = 0; done < line.size();) {
        const ssize_t n = ::write(m_fd, line.constData() + done, size_t(line.size() - done));
        if (n < 0 && errno != EINTR)
            return QStringLiteral("err write: %1").arg(errno);
        done += n > 0 ? n : 0;
    }
    QDeadlineTimer deadline(30000);
    while (!m_buffer.contains('\n')) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
            return QStringLiteral("err no answer to %1").arg(request);
        char chunk[65536];
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return QStringLiteral("err control channel closed");
        m_buffer.append(chunk, n);
    }
    const qsizetype end = m_buffer.indexOf('\n');
    const QString answer = QString::fromUtf8(m_buffer.left(end));
    m_buffer.remove(0, end + 1);
    return answer;
}

QByteArray Bed::received(const QString& line) {
    const QString answer = ask(QStringLiteral("received ") + line);
    return QByteArray::fromHex(answer.mid(3).toLatin1());
}

QString usbNode(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    do {
        const QStringList nodes =
            QDir(QStringLiteral("/dev")).entryList({QStringLiteral("ttyUSB*")}, QDir::System);
        if (!nodes.isEmpty())
            return QStringLiteral("/dev/") + nodes.first();
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    return {};
}
