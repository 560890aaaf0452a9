#include "FakeComPortServer.h"

#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr char IAC = char(0xff), SB = char(0xfa), SE = char(0xf0), COMPORT = 44;

QByteArray bytes(std::initializer_list<char> list) {
    return QByteArray(list.begin(), qsizetype(list.size()));
}

QByteArray subnegotiation(int code, const QByteArray& value) {
    QByteArray out = bytes({IAC, SB, COMPORT, char(code)});
    for (const char byte : value)
        out += byte == IAC ? QByteArray(2, IAC) : QByteArray(1, byte);
    return out + bytes({IAC, SE});
}

bool isQuery(const QByteArray& value) {
    return value.count('\0') == value.size();
}

} // namespace

FakeComPortServer::FakeComPortServer() {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    // A server that stops reading holds little of what was sent to it.
    const int receiveBuffer = 16 * 1024;
    ::setsockopt(m_listener, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(m_listener, 4);
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
    m_port = ntohs(address.sin_port);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_kept = {
        {1, QByteArray::fromHex("00002580")}, {2, "\x08"}, {3, "\x01"}, {4, "\x01"}, {5, "\x01"}};
    m_thread = std::thread([this] { run(); });
}

FakeComPortServer::~FakeComPortServer() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wake, &one, sizeof one);
    m_thread.join();
    ::close(m_listener);
    ::close(m_wake);
}

QString FakeComPortServer::url() const {
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_port);
}

void FakeComPortServer::send(const QByteArray& bytes) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_outgoing << bytes;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wake, &one, sizeof one);
}

QByteArray FakeComPortServer::data() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_data;
}

QStringList FakeComPortServer::commands() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

void FakeComPortServer::flood(const QByteArray& pattern) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_flood = pattern;
    m_stalled = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wake, &one, sizeof one);
}

void FakeComPortServer::resume() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_flood.clear();
    m_stalled = false;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wake, &one, sizeof one);
}

void FakeComPortServer::hangUp(bool reset) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_hangUp = true;
    m_reset = reset;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wake, &one, sizeof one);
}

void FakeComPortServer::silence(const QSet<int>& commands) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    silentCommands = commands;
}

qint64 FakeComPortServer::flooded() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_flooded;
}

bool FakeComPortServer::connected() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_connected;
}

void FakeComPortServer::run() {
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop)
                return;
        }
        pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_listener, POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (fds[0].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(m_wake, &count, sizeof count);
        }
        if (fds[1].revents) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                serve(client);
                ::close(client);
            }
        }
    }
}

void FakeComPortServer::serve(int client) {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_connected = true;
        m_in.clear();
        m_flooded = 0;
        m_stalled = !floodAtConnect.isEmpty();
        m_flood = floodAtConnect;
    }
    const QByteArray hello =
        bytes({IAC, char(refuseOption ? 0xfe : 0xfd), COMPORT, IAC, char(0xfb), 0});
    if (greet)
        ::send(client, hello.constData(), size_t(hello.size()), MSG_NOSIGNAL);
    char buffer[4096];
    QByteArray burst;
    qsizetype burstAt = 0;
    for (;;) {
        QList<QByteArray> sends;
        bool stalled = false;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop)
                break;
            if (std::exchange(m_hangUp, false)) {
                const linger abort{1, 0};
                if (std::exchange(m_reset, false))
                    ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                break;
            }
            sends = std::exchange(m_outgoing, {});
            stalled = m_stalled;
            if (m_flood.isEmpty())
                burst.clear();
            else if (burst.isEmpty())
                burst = m_flood.repeated(std::max<qsizetype>(1, 65536 / m_flood.size()));
        }
        for (const QByteArray& part : sends)
            ::send(client, part.constData(), size_t(part.size()), MSG_NOSIGNAL);
        pollfd fds[2] = {
            {m_wake, POLLIN, 0},
            {client, short((stalled ? 0 : POLLIN) | (burst.isEmpty() ? 0 : POLLOUT)), 0}};
        ::poll(fds, 2, -1);
        if (fds[0].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(m_wake, &count, sizeof count);
        }
        if (fds[1].revents & (POLLERR | POLLHUP))
            break;
        if (fds[1].revents & POLLOUT) {
            burstAt %= std::max<qsizetype>(burst.size(), 1);
            const ssize_t n = ::send(client, burst.constData() + burstAt,
                                     size_t(burst.size() - burstAt), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN)
                break;
            burstAt += std::max<ssize_t>(n, 0);
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_flooded += std::max<ssize_t>(n, 0);
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_in.append(buffer, n);
            if (!parse(client))
                break;
        }
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_connected = false;
}

// Takes complete data and commands from the front of m_in; false to hang up.
bool FakeComPortServer::parse(int client) {
    for (;;) {
        const qsizetype iac = m_in.indexOf(IAC);
        if (iac < 0) {
            m_data += std::exchange(m_in, {});
            return true;
        }
        m_data += m_in.left(iac);
        m_in.remove(0, iac);
        if (m_in.size() < 2)
            return true;
        if (m_in.at(1) == IAC) {
            m_data += IAC;
            m_in.remove(0, 2);
        } else if (m_in.at(1) == SB) {
            QByteArray body;
            qsizetype i = 2;
            for (; i + 1 < m_in.size(); ++i) {
                if (m_in.at(i) == IAC && m_in.at(i + 1) == SE)
                    break;
                if (m_in.at(i) == IAC)
                    ++i;
                body += m_in.at(i);
            }
            if (i + 1 >= m_in.size())
                return true; // not all here yet
            m_in.remove(0, i + 2);
            if (body.size() < 2 || body.at(0) != COMPORT)
                continue;
            const int code = static_cast<unsigned char>(body.at(1));
            QByteArray value = body.mid(2);
            m_commands << QStringLiteral("%1:%2").arg(code).arg(QString::fromLatin1(value.toHex()));
            const int control = value.isEmpty() ? 0 : static_cast<unsigned char>(value.at(0));
            if (closeMidSubnegotiation) {
                const QByteArray half = bytes({IAC, SB, COMPORT, char(code + 100)});
                ::send(client, half.constData(), size_t(half.size()), MSG_NOSIGNAL);
                return false;
            }
            if (silentCommands.contains(code) || (code == 5 && silentControls.contains(control)))
                continue;
            if (isQuery(value) && reported.contains(code))
                value = reported.value(code);
            else if (isQuery(value))
                value = m_kept.value(code, value);
            else if (code != 5 || control <= 3)
                m_kept[code] = value;
            const QByteArray answer = subnegotiation(code + 100, value);
            ::send(client, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
        } else {
            m_in.remove(0, std::min<qsizetype>(3, m_in.size())); // WILL/DO and the like
        }
    }
}
