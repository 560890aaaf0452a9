#include "serial/RemoteBackend.h"

#include "serial/TelnetComPort.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using TC = TelnetComPort;

constexpr auto connectLimit = std::chrono::seconds(5);
constexpr auto answerLimit = std::chrono::seconds(2);
// ser2net does not answer DTR and RTS on a pty: an open must not wait long.
constexpr auto lineLimit = std::chrono::milliseconds(500);
constexpr long chunk = 64 * 1024;
// Received data waiting for the reader before the socket is left unread.
constexpr qsizetype nearLimit = 256 * 1024;
constexpr unsigned char lineMask = 0x1e; // break, framing, parity, overrun
constexpr unsigned char modemMask = 0xff;

// Errors of our own making, each with its own text.
constexpr int resolveError = EADDRNOTAVAIL;
constexpr int closedError = ECONNABORTED;
constexpr int noComPortError = EPROTONOSUPPORT;

// SET-CONTROL answers share one code; they are told apart by what they set.
int answerKey(int command, const QByteArray& value) {
    if (command != TC::SetControl || value.isEmpty())
        return command;
    const int v = static_cast<unsigned char>(value.at(0));
    return 16 + (v <= 3 ? 0 : v <= 6 ? 1 : v <= 9 ? 2 : v <= 12 ? 3 : 4);
}
constexpr int keyCount = 21;
constexpr int flowKey = 16, dtrKey = 18, rtsKey = 19;

// Why a connection could not be made, or, `lost`, why it ended.
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
    case closedError:
        return QStringLiteral("サーバー %1 が接続を閉じました。").arg(where);
    case ECONNRESET:
    case EPIPE:
        return QStringLiteral("サーバー %1 との接続がリセットされました。").arg(where);
    default:
        return {};
    }
}

// The connection, shared by the backend and the thread that serves it, so
// a thread stuck in name resolution can be left to finish alone.
struct Link {
    RemoteTarget target;
    bool telnet = true;
    int far = -1;  // our end of the pair; the reader has the other
    int wake = -1; // eventfd: stop, or commands to send
    int tcp = -1;

    std::mutex mutex;
    std::condition_variable changed;
    bool running = false, ended = false, stop = false, resolving = true;
    int error = 0;
    QByteArray control; // commands waiting to go out
    quint64 answers[keyCount] = {};
    QByteArray values[keyCount];
    int modem = 0;
    LineCounters counters;
    bool suspended = false;
    std::atomic<long> pending{0};

    // The thread's own.
    TC codec;
    QByteArray out, toNear;

    ~Link() {
        for (const int fd : {far, wake, tcp})
            if (fd >= 0)
                ::close(fd);
    }

    void run();
    int connectTcp(Clock::time_point deadline);
    int negotiate(Clock::time_point deadline);
    void pump();
    int waitFor(int fd, short events, Clock::time_point deadline);
    bool stopping() {
        const std::lock_guard<std::mutex> lock(mutex);
        return stop;
    }
    // verdict: 1 when the server takes the COM-PORT-OPTION, -1 when it refuses.
    int receive(std::vector<char>& buffer, int* verdict);
    void take(const QVector<TC::Event>& events, int* verdict);
    void end(int why);
};

void Link::run() {
    const auto deadline = Clock::now() + connectLimit;
    int error = connectTcp(deadline);
    if (error == 0) {
        const int on = 1;
        // A peer gone without a word is found within about ten seconds.
        const int idle = 4, interval = 2, count = 3;
        const unsigned userTimeout = 10000;
        ::setsockopt(tcp, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(tcp, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        ::setsockopt(tcp, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        ::setsockopt(tcp, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
        ::setsockopt(tcp, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
        ::setsockopt(tcp, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
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
        while (!out.isEmpty()) {
            const ssize_t n = ::send(tcp, out.constData(), size_t(out.size()), MSG_NOSIGNAL);
            if (n > 0)
                out.remove(0, n);
            else if (errno != EAGAIN && errno != EINTR)
                return errno;
            else if (const int error = waitFor(tcp, POLLOUT, deadline))
                return error;
        }
        if (const int error = waitFor(tcp, POLLIN, deadline))
            return error;
        if (const int error = receive(buffer, &verdict))
            return error;
    }
    if (verdict < 0)
        return noComPortError;
    // What the line held before we came is not ours, as at a local open.
    out += TC::command(TC::PurgeData, static_cast<unsigned char>(3));
    out += TC::command(TC::SetLinestateMask, lineMask);
    out += TC::command(TC::SetModemstateMask, modemMask);
    return 0;
}

// One read from the server; a positive errno when the connection ended.
int Link::receive(std::vector<char>& buffer, int* verdict) {
    const ssize_t n = ::recv(tcp, buffer.data(), buffer.size(), 0);
    if (n == 0)
        return closedError;
    if (n < 0)
        return errno == EAGAIN || errno == EINTR ? 0 : errno;
    if (!telnet) {
        toNear.append(buffer.data(), n);
        return 0;
    }
    const auto events = codec.feed(buffer.data(), long(n), toNear, out);
    if (!events.isEmpty())
        take(events, verdict);
    return 0;
}

void Link::take(const QVector<TC::Event>& events, int* verdict) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (const TC::Event& event : events) {
            const int bits = event.value.isEmpty() ? 0 : static_cast<unsigned char>(event.value[0]);
            switch (event.kind) {
            case TC::Event::Answer: {
                const int key = answerKey(event.command, event.value);
                if (key < keyCount) {
                    values[key] = event.value;
                    ++answers[key];
                }
                break;
            }
            case TC::Event::LineState:
                counters.brk += (bits & 0x10) ? 1 : 0;
                counters.frame += (bits & 0x08) ? 1 : 0;
                counters.parity += (bits & 0x04) ? 1 : 0;
                counters.overrun += (bits & 0x02) ? 1 : 0;
                break;
            case TC::Event::ModemState: {
                // A delta bit, or a state that changed since the last word.
                const int turned = (bits ^ modem) & 0xf0;
                counters.cts += ((bits & 0x01) || (turned & 0x10)) ? 1 : 0;
                counters.dsr += ((bits & 0x02) || (turned & 0x20)) ? 1 : 0;
                counters.rng += ((bits & 0x04) || (turned & 0x40)) ? 1 : 0;
                counters.dcd += ((bits & 0x08) || (turned & 0x80)) ? 1 : 0;
                modem = bits & 0xf0;
                break;
            }
            case TC::Event::Suspend:
            case TC::Event::Resume:
                suspended = event.kind == TC::Event::Suspend;
                break;
            case TC::Event::Accepted:
            case TC::Event::Refused:
                if (verdict)
                    *verdict = event.kind == TC::Event::Accepted ? 1 : -1;
                break;
            }
        }
    }
    changed.notify_all();
}

void Link::pump() {
    std::vector<char> buffer(chunk);
    for (;;) {
        bool suspendedNow = false;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (stop)
                return;
            out += control;
            control.clear();
            suspendedNow = suspended;
        }
        pending = long(out.size());
        const bool roomNear = toNear.size() < nearLimit;
        const bool roomOut = out.size() < chunk && !suspendedNow;
        pollfd fds[3] = {
            {wake, POLLIN, 0},
            {tcp, short((roomNear ? POLLIN : 0) | (out.isEmpty() ? 0 : POLLOUT)), 0},
            {far, short((roomOut ? POLLIN : 0) | (toNear.isEmpty() ? 0 : POLLOUT)), 0},
        };
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            end(errno);
            return;
        }
        if (fds[0].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(wake, &count, sizeof count);
        }
        if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) {
            if (const int error = receive(buffer, nullptr)) {
                end(error);
                return;
            }
        }
        if ((fds[1].revents & POLLOUT) && !out.isEmpty()) {
            const ssize_t n = ::send(tcp, out.constData(), size_t(out.size()), MSG_NOSIGNAL);
            if (n > 0) {
                out.remove(0, n);
            } else if (errno != EAGAIN && errno != EINTR) {
                end(errno);
                return;
            }
        }
        if (fds[2].revents & (POLLHUP | POLLERR))
            return; // the backend closed its end
        if (fds[2].revents & POLLIN) {
            const ssize_t n = ::read(far, buffer.data(), buffer.size());
            if (n > 0 && telnet)
                TC::escape(buffer.data(), long(n), out);
            else if (n > 0)
                out.append(buffer.data(), n);
            else if (n == 0)
                return;
        }
        if ((fds[2].revents & POLLOUT) && !toNear.isEmpty()) {
            const ssize_t n = ::write(far, toNear.constData(), size_t(toNear.size()));
            if (n > 0)
                toNear.remove(0, n);
        }
    }
}

// The connection is over: the reader gets what was received, then the end.
void Link::end(int why) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        error = why;
        ended = true;
    }
    changed.notify_all();
    while (!toNear.isEmpty()) {
        pollfd fds[2] = {{wake, POLLIN, 0}, {far, POLLOUT, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if ((fds[0].revents && stopping()) || (fds[1].revents & (POLLHUP | POLLERR)))
            break;
        const ssize_t n = ::write(far, toNear.constData(), size_t(toNear.size()));
        if (n > 0)
            toNear.remove(0, n);
    }
    ::close(far);
    far = -1;
}

class RemoteBackend : public SerialBackend {
public:
    explicit RemoteBackend(const RemoteTarget& target) : m_target(target) {}
    ~RemoteBackend() override { close(); }

    int open(const QString& path) override {
        const int rc = beginOpen(path);
        if (rc != -EINPROGRESS)
            return rc;
        {
            std::unique_lock<std::mutex> lock(m_link->mutex);
            m_link->changed.wait_until(lock, m_giveUpAt,
                                       [this] { return m_link->running || m_link->ended; });
        }
        return finishOpen();
    }

    int beginOpen(const QString& path) override {
        Q_UNUSED(path);
        close();
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
            return -errno;
        m_link = std::make_shared<Link>();
        m_link->target = m_target;
        m_link->telnet = m_target.kind == RemoteTarget::Kind::Rfc2217;
        m_link->far = pair[1];
        m_link->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_near = pair[0];
        m_lines = LineDTR | LineRTS;
        // The thread keeps its own limit; this one also covers a name lookup.
        m_giveUpAt = Clock::now() + connectLimit + std::chrono::milliseconds(500);
        m_thread = std::thread([link = m_link] { link->run(); });
        return -EINPROGRESS;
    }

    int finishOpen() override {
        if (!m_link)
            return -EBADF;
        int error = ETIMEDOUT;
        {
            const std::lock_guard<std::mutex> lock(m_link->mutex);
            if (m_link->running)
                return 0;
            if (m_link->ended)
                error = m_link->error;
            else if (Clock::now() < m_giveUpAt)
                return -EINPROGRESS;
        }
        close();
        m_explainedError = error;
        m_explained = describe(error, m_target, false);
        return -error;
    }

    void close() override {
        if (!m_link)
            return;
        bool resolving = false;
        {
            const std::lock_guard<std::mutex> lock(m_link->mutex);
            m_link->stop = true;
            resolving = m_link->resolving;
        }
        wake();
        // Name resolution cannot be cut short: that thread ends by itself.
        if (resolving)
            m_thread.detach();
        else if (m_thread.joinable())
            m_thread.join();
        ::close(m_near);
        m_near = -1;
        m_link.reset();
    }

    int fd() const override { return m_near; }
    bool marksLineErrors() const override { return false; }

    long read(char* buffer, long size) override {
        const ssize_t n = ::read(m_near, buffer, size_t(size));
        if (n < 0)
            return -errno;
        if (n == 0) {
            const std::lock_guard<std::mutex> lock(m_link->mutex);
            return m_link->error ? -m_link->error : 0;
        }
        return long(n);
    }

    long write(const char* data, long size) override {
        const ssize_t n = ::send(m_near, data, size_t(size), MSG_NOSIGNAL);
        return n < 0 ? -errno : long(n);
    }

    int apply(const LineConfig& config) override {
        m_config = config;
        if (!telnet())
            return 0;
        static const unsigned char parities[] = {'n', 'o', 'e', 'm', 's'};
        const auto parity = static_cast<unsigned char>(
            std::find(std::begin(parities), std::end(parities), config.parity) -
            std::begin(parities) + 1);
        static const unsigned char flows[] = {1, 2, 3, 3};
        const QByteArray commands =
            TC::command(TC::SetBaudrate, quint32(config.speed)) +
            TC::command(TC::SetDatasize, static_cast<unsigned char>(config.dataBits)) +
            TC::command(TC::SetParity, parity) +
            TC::command(TC::SetStopsize, static_cast<unsigned char>(config.twoStopBits ? 2 : 1)) +
            TC::command(TC::SetControl, flows[config.handshaking & 3]);
        return exchange(commands,
                        {TC::SetBaudrate, TC::SetDatasize, TC::SetParity, TC::SetStopsize, flowKey},
                        answerLimit, nullptr);
    }

    int readBack(LineConfig& config) override {
        if (!telnet()) {
            config = m_config;
            return 0;
        }
        const QByteArray asks = TC::command(TC::SetBaudrate, quint32(0)) +
                                TC::command(TC::SetDatasize, static_cast<unsigned char>(0)) +
                                TC::command(TC::SetParity, static_cast<unsigned char>(0)) +
                                TC::command(TC::SetStopsize, static_cast<unsigned char>(0)) +
                                TC::command(TC::SetControl, static_cast<unsigned char>(0));
        QByteArray values[keyCount];
        const int rc = exchange(
            asks, {TC::SetBaudrate, TC::SetDatasize, TC::SetParity, TC::SetStopsize, flowKey},
            answerLimit, values);
        if (rc != 0)
            return rc;
        const QByteArray& rate = values[TC::SetBaudrate];
        const auto byte = [&](int key) {
            return values[key].size() == 1 ? static_cast<unsigned char>(values[key][0]) : 0;
        };
        const int parity = byte(TC::SetParity), stop = byte(TC::SetStopsize), flow = byte(flowKey);
        if (rate.size() != 4 || parity < 1 || parity > 5 || stop < 1 || stop > 3 || flow < 1 ||
            flow > 3)
            return -EPROTO;
        config.speed = 0;
        for (const char part : rate)
            config.speed = (config.speed << 8) | static_cast<unsigned char>(part);
        config.dataBits = byte(TC::SetDatasize);
        config.parity = "noems"[parity - 1];
        config.twoStopBits = stop != 1;
        config.handshaking = flow - 1;
        return 0;
    }

    int modemLines(int& bits) override {
        if (!telnet())
            return -ENOTTY;
        const std::lock_guard<std::mutex> lock(m_link->mutex);
        const int modem = m_link->modem;
        bits = m_lines | ((modem & 0x10) ? LineCTS : 0) | ((modem & 0x20) ? LineDSR : 0) |
               ((modem & 0x40) ? LineRI : 0) | ((modem & 0x80) ? LineCD : 0);
        return 0;
    }

    int setDtr(bool on) override {
        if (!telnet())
            return -ENOTTY;
        m_lines = on ? (m_lines | LineDTR) : (m_lines & ~LineDTR);
        const int rc = exchange(TC::command(TC::SetControl, static_cast<unsigned char>(on ? 8 : 9)),
                                {dtrKey}, lineLimit, nullptr);
        // -ETIMEDOUT: sent, not confirmed (ser2net never answers for a pty).
        return rc;
    }

    int setRts(bool on) override {
        if (!telnet())
            return -ENOTTY;
        m_lines = on ? (m_lines | LineRTS) : (m_lines & ~LineRTS);
        const int rc =
            exchange(TC::command(TC::SetControl, static_cast<unsigned char>(on ? 11 : 12)),
                     {rtsKey}, lineLimit, nullptr);
        return rc == -ETIMEDOUT ? 0 : rc;
    }

    // Sent without waiting for the answer: the window must not wait on the network.
    int setBreak(bool on) override {
        if (!telnet())
            return -ENOTTY;
        return post(TC::command(TC::SetControl, static_cast<unsigned char>(on ? 5 : 6)));
    }
    int flushOutput() override {
        if (!telnet())
            return -ENOTTY;
        return post(TC::command(TC::PurgeData, static_cast<unsigned char>(2)));
    }

    int counters(LineCounters& counters) override {
        if (!telnet())
            return -ENOTTY;
        const std::lock_guard<std::mutex> lock(m_link->mutex);
        counters = m_link->counters;
        return 0;
    }

    int outQueue(int& bytes) override {
        int queued = 0;
        if (::ioctl(m_near, TIOCOUTQ, &queued) != 0)
            return -errno;
        bytes = queued + int(m_link->pending);
        return 0;
    }

    QString explain(int error) const override {
        if (m_link) {
            const std::lock_guard<std::mutex> lock(m_link->mutex);
            if (m_link->ended && (error == m_link->error || error == EIO))
                return describe(m_link->error, m_target, true);
        }
        return error == m_explainedError ? m_explained : QString();
    }

private:
    bool telnet() const { return m_target.kind == RemoteTarget::Kind::Rfc2217; }

    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(m_link->wake, &one, sizeof one);
    }

    int post(const QByteArray& commands) {
        const int rc = exchange(commands, {}, std::chrono::milliseconds(0), nullptr);
        return rc == -ETIMEDOUT ? 0 : rc;
    }

    // Sends `commands` and waits for an answer under each key.
    int exchange(const QByteArray& commands, std::initializer_list<int> keys,
                 std::chrono::milliseconds limit, QByteArray* values) {
        std::unique_lock<std::mutex> lock(m_link->mutex);
        if (m_link->ended)
            return -EIO;
        quint64 before[keyCount];
        std::copy(std::begin(m_link->answers), std::end(m_link->answers), before);
        m_link->control += commands;
        lock.unlock();
        wake();
        lock.lock();
        const bool answered = m_link->changed.wait_for(lock, limit, [&] {
            if (m_link->ended)
                return true;
            for (const int key : keys)
                if (m_link->answers[key] == before[key])
                    return false;
            return true;
        });
        if (m_link->ended)
            return -EIO;
        if (!answered)
            return -ETIMEDOUT;
        if (values)
            for (const int key : keys)
                values[key] = m_link->values[key];
        return 0;
    }

    RemoteTarget m_target;
    std::shared_ptr<Link> m_link;
    std::thread m_thread;
    int m_near = -1;
    Clock::time_point m_giveUpAt;
    int m_lines = 0;
    LineConfig m_config;
    int m_explainedError = 0;
    QString m_explained;
};

// Chooses per open: a link to a URL is remote, anything else a device.
class PortBackend : public SerialBackend {
public:
    int open(const QString& path) override { return choose(path).open(path); }
    int beginOpen(const QString& path) override { return choose(path).beginOpen(path); }
    int finishOpen() override { return m_current->finishOpen(); }
    void close() override { m_current->close(); }
    int fd() const override { return m_current->fd(); }
    bool marksLineErrors() const override { return m_current->marksLineErrors(); }
    long read(char* buffer, long size) override { return m_current->read(buffer, size); }
    long write(const char* data, long size) override { return m_current->write(data, size); }
    int apply(const LineConfig& config) override { return m_current->apply(config); }
    int readBack(LineConfig& config) override { return m_current->readBack(config); }
    int modemLines(int& bits) override { return m_current->modemLines(bits); }
    int setDtr(bool on) override { return m_current->setDtr(on); }
    int counters(LineCounters& counters) override { return m_current->counters(counters); }
    int outQueue(int& bytes) override { return m_current->outQueue(bytes); }
    int setRts(bool on) override { return m_current->setRts(on); }
    int setBreak(bool on) override { return m_current->setBreak(on); }
    int flushOutput() override { return m_current->flushOutput(); }
    QString explain(int error) const override { return m_current->explain(error); }

private:
    SerialBackend& choose(const QString& path) {
        close();
        RemoteTarget target = RemoteTarget::parse(linkText(path));
        if (!target.isValid())
            target = RemoteTarget::parse(path);
        if (target.isValid()) {
            m_remote = makeRemoteBackend(target);
            m_current = m_remote.get();
        } else {
            m_current = m_local.get();
        }
        return *m_current;
    }

    std::unique_ptr<SerialBackend> m_local = makeTermiosBackend();
    std::unique_ptr<SerialBackend> m_remote;
    SerialBackend* m_current = m_local.get();
};

} // namespace

std::unique_ptr<SerialBackend> makeRemoteBackend(const RemoteTarget& target) {
    return std::make_unique<RemoteBackend>(target);
}

std::unique_ptr<SerialBackend> makePortBackend() {
    return std::make_unique<PortBackend>();
}
