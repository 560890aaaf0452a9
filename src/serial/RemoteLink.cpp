// The connection thread's first half: the connection and the telnet
// negotiation up to the COM-PORT-OPTION.
#include "serial/RemoteLink.h"

#include "platform/SystemError.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace remote {

namespace {

using TC = TelnetComPort;

constexpr unsigned char lineMask = 0x1e; // break, framing, parity, overrun
constexpr unsigned char modemMask = 0xff;

} // namespace

int answerKey(int command, const QByteArray& value) {
    if (command != TC::SetControl || value.isEmpty())
        return command;
    const int v = static_cast<unsigned char>(value.at(0));
    return 16 + (v <= 3 ? 0 : v <= 6 ? 1 : v <= 9 ? 2 : v <= 12 ? 3 : 4);
}

QString describe(int error, const RemoteTarget& target, bool lost) {
    const QString where = target.hostPort();
    if (lost && (error == ETIMEDOUT || error == EHOSTUNREACH))
        return QStringLiteral("サーバー %1 から応答がなくなりました。").arg(where);
    switch (error) {
    case resolveError:
        return QStringLiteral("ホスト名 %1 を解決できません。名前とネットワークの設定を確認してく"
                              "ださい。")
            .arg(target.host);
    case ECONNREFUSED:
        return QStringLiteral("%1 に接続を拒否されました。サーバー (ser2net など) が動いているか、"
                              "ポート番号が正しいか確認してください。")
            .arg(where);
    case ETIMEDOUT:
        return QStringLiteral("%1 から応答がありません (%2 秒で打ち切りました)。")
            .arg(where)
            .arg(std::chrono::seconds(connectLimit).count());
    case EHOSTUNREACH:
    case ENETUNREACH:
        return QStringLiteral("%1 へのネットワーク経路がありません。").arg(where);
    case noComPortError:
        return QStringLiteral("%1 は RFC 2217 (COM-PORT-OPTION) に応じません。raw TCP のポートなら "
                              "tcp:// で指定してください。")
            .arg(where);
    case bothFlowsError:
        return QStringLiteral("RFC 2217 ではフロー制御を 1 つしか指定できないため、RTS/CTS と "
                              "Xon/Xoff の併用 (Handshaking 3) は使えません。1 か 2 を選んでくだ"
                              "さい。");
    case closedError:
        return QStringLiteral("サーバー %1 が接続を閉じました。").arg(where);
    case ECONNRESET:
    case EPIPE:
        return QStringLiteral("サーバー %1 との接続がリセットされました。").arg(where);
    case ENOMEM:
        return QStringLiteral("サーバー %1 との接続を続けるメモリーが足りません。").arg(where);
    default:
        break;
    }
    if (lost)
        return QStringLiteral("サーバー %1 との通信に失敗しました。理由: %2。")
            .arg(where, describeErrno(error));
    return {};
}

Link::~Link() {
    for (const int fd : {far, wake, tcp.load()})
        if (fd >= 0)
            ::close(fd);
}

bool Link::stopping() {
    const std::lock_guard<std::mutex> lock(mutex);
    return stop;
}

void Link::run() {
    // Nothing may leave this thread: a failure ends the connection instead.
    try {
        const auto deadline = Clock::now() + connectLimit;
        int error = connectTcp(deadline);
        if (error == 0) {
            const int on = 1;
            // A peer gone without a word is found within about ten seconds.
            const int idle = 4, interval = 2, count = 3;
            const int fd = tcp;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
            ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
            ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
            ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
            if (telnet)
                error = negotiate(deadline);
        }
        if (error != 0) {
            end(error);
            return;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex);
            running = true;
        }
        changed.notify_all();
        pump();
    } catch (const std::bad_alloc&) {
        end(ENOMEM);
    } catch (...) {
        end(EPROTO);
    }
}

int Link::waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return ETIMEDOUT;
        pollfd fds[2] = {{wake, POLLIN, 0}, {fd, events, 0}};
        if (::poll(fds, 2, int(left) + 1) < 0 && errno != EINTR)
            return errno;
        if (fds[0].revents && stopping())
            return ECANCELED;
        if (fds[1].revents)
            return 0;
    }
}

int Link::connectTcp(Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(target.host.toUtf8().constData(),
                                 QByteArray::number(target.port).constData(), &hints, &found);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        resolving = false;
    }
    if (rc != 0)
        return rc == EAI_SYSTEM ? errno : resolveError;
    int error = EHOSTUNREACH;
    for (addrinfo* address = found; address; address = address->ai_next) {
        const int fd =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                     address->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        // Set before connecting, so the window is sized for it from the start.
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &socketSendBuffer, sizeof socketSendBuffer);
        error = ::connect(fd, address->ai_addr, address->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            error = waitFor(fd, POLLOUT, deadline);
            socklen_t size = sizeof error;
            if (error == 0)
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        }
        if (error == 0) {
            tcp = fd;
            break;
        }
        ::close(fd);
        if (error == ETIMEDOUT || error == ECANCELED)
            break;
    }
    ::freeaddrinfo(found);
    return error;
}

int Link::negotiate(Clock::time_point deadline) {
    out = codec.greeting();
    std::vector<char> buffer(chunk);
    int verdict = 0;
    while (verdict == 0) {
        out += std::exchange(replies, {});
        while (!out.isEmpty()) {
            const ssize_t n = ::send(tcp, out.constData(), size_t(out.size()), MSG_NOSIGNAL);
            if (n > 0)
                out.remove(0, n);
            else if (errno != EAGAIN && errno != EINTR)
                return errno;
            else if (const int error = waitFor(tcp, POLLOUT, deadline))
                return error;
        }
        // A server that has sent this much without taking the option never will.
        if (toNear.size() >= nearLimit)
            return noComPortError;
        if (const int error = waitFor(tcp, POLLIN, deadline))
            return error;
        if (const int error = receive(buffer, &verdict); error > 0)
            return error;
    }
    if (verdict < 0)
        return noComPortError;
    // What the line held before we came is not ours, as at a local open.
    out += std::exchange(replies, {});
    out += TC::command(TC::PurgeData, static_cast<unsigned char>(3));
    out += TC::command(TC::SetLinestateMask, lineMask);
    out += TC::command(TC::SetModemstateMask, modemMask);
    return 0;
}

} // namespace remote
