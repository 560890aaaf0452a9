#include "Ser2net.h"

#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int connectTo(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(fd);
    return rc;
}

// A port nobody listens on now, as the kernel hands them out.
quint16 freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace

Ser2net::Ser2net(const QString& device, bool telnet)
    : m_device(device), m_telnet(telnet), m_port(freePort()) {}

Ser2net::~Ser2net() {
    kill();
}

bool Ser2net::installed() {
    return !QStandardPaths::findExecutable(QStringLiteral("ser2net")).isEmpty();
}

QString Ser2net::url() const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_telnet ? "rfc2217" : "tcp").arg(m_port);
}

bool Ser2net::start() {
    const QString config = m_dir.filePath(QStringLiteral("ser2net.yaml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QStringLiteral("%YAML 1.1\n---\n"
                              "connection: &remote\n"
                              "  accepter: %1tcp,127.0.0.1,%2\n"
                              "  connector: serialdev,%3,9600n81,local\n"
                              "  options:\n"
                              "    chardelay: false\n"
                              "    kickolduser: true\n")
                   .arg(m_telnet ? "telnet(rfc2217)," : "")
                   .arg(m_port)
                   .arg(m_device)
                   .toUtf8());
    file.close();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral("ser2net"),
                    {"-n", "-u", "-c", config, "-P", m_dir.filePath(QStringLiteral("pid"))});
    if (!m_process.waitForStarted(5000))
        return false;
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (connectTo(m_port) == 0)
            return true;
        if (m_process.state() != QProcess::Running)
            break;
        QThread::msleep(10);
    }
    m_log = QString::fromLocal8Bit(m_process.readAll());
    return false;
}

void Ser2net::kill() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
    m_log += QString::fromLocal8Bit(m_process.readAll());
}
