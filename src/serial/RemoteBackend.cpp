#include "serial/RemoteBackend.h"

#include "serial/RemotePort.h"

#include <cstdint>
#include <cstring>
#include <linux/sockios.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace remote {

int RemoteBackend::open(const QString& path) {
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

int RemoteBackend::beginOpen(const QString& path) {
    Q_UNUSED(path);
    close();
    m_explainedError = 0;
    m_explained.clear();
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        return -errno;
    // What the program has sent and the link has not taken stays short, as on a device.
    ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &socketSendBuffer, sizeof socketSendBuffer);
    auto link = std::make_shared<Link>();
    link->far = pair[1];
    m_near = pair[0];
    // Without its wake-up the thread could not be stopped on a quiet link.
    link->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (link->wake < 0) {
        const int error = errno;
        ::close(m_near);
        m_near = -1;
        return -error;
    }
    link->target = m_target;
    link->telnet = telnet();
    m_lines = LineDTR | LineRTS;
    m_settingsAsk = m_dtrAsk = m_rtsAsk = Ask();
    // The thread keeps its own limit; this one also covers a name lookup.
    m_giveUpAt = Clock::now() + connectLimit + std::chrono::milliseconds(500);
    try {
        m_thread = std::thread([link] { link->run(); });
    } catch (const std::system_error& error) {
        ::close(m_near);
        m_near = -1;
        return -error.code().value();
    }
    m_link = std::move(link);
    return -EINPROGRESS;
}

int RemoteBackend::finishOpen() {
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

void RemoteBackend::close() {
    if (!m_link)
        return;
    bool resolving = false;
    {
        const std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->stop = true;
        resolving = m_link->resolving;
        // Why it ended stays told after the close.
        if (m_link->ended) {
            m_explainedError = m_link->error;
            m_explained = describe(m_link->error, m_target, true);
        }
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

long RemoteBackend::read(char* buffer, long size) {
    const ssize_t n = ::read(m_near, buffer, size_t(size));
    if (n < 0)
        return -errno;
    if (n > 0)
        return long(n);
    // The pair is drained: what did not fit in it when the connection ended follows.
    const std::lock_guard<std::mutex> lock(m_link->mutex);
    QByteArray& rest = m_link->leftover;
    if (!rest.isEmpty()) {
        const long count = std::min(size, long(rest.size()));
        std::memcpy(buffer, rest.constData(), size_t(count));
        rest.remove(0, count);
        return count;
    }
    return m_link->error ? -m_link->error : 0;
}

long RemoteBackend::write(const char* data, long size) {
    const ssize_t n = ::send(m_near, data, size_t(size), MSG_NOSIGNAL);
    return n < 0 ? -errno : long(n);
}

// Unsent bytes: in the pair, taken by the link, and in the kernel's socket
// (bytes, not the pair's per-write overhead).
int RemoteBackend::outQueue(int& bytes) {
    if (!m_link)
        return -EBADF;
    int inPair = 0, inSocket = 0;
    if (::ioctl(m_link->far, SIOCINQ, &inPair) != 0)
        return -errno;
    const int tcp = m_link->tcp;
    if (tcp >= 0 && ::ioctl(tcp, SIOCOUTQ, &inSocket) != 0)
        inSocket = 0;
    bytes = inPair + int(m_link->queued) + inSocket;
    return 0;
}

// What the link has not taken is dropped here; what it holds is dropped by
// the link, and the server is asked to drop its own.
int RemoteBackend::flushOutput() {
    if (!m_link)
        return -EBADF;
    char sink[4096];
    while (::read(m_link->far, sink, sizeof sink) > 0) {
    }
    {
        const std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->flush = true;
    }
    if (!telnet()) {
        wake();
        return 0;
    }
    return post(TelnetComPort::command(TelnetComPort::PurgeData, static_cast<unsigned char>(2)));
}

QString RemoteBackend::explain(int error) const {
    if (error == bothFlowsError)
        return describe(error, m_target, false);
    int ended = 0;
    if (m_link) {
        const std::lock_guard<std::mutex> lock(m_link->mutex);
        ended = m_link->ended ? m_link->error : 0;
        // On a live connection only a question can time out.
        if (!ended && error == ETIMEDOUT)
            return QStringLiteral("サーバー %1 が応答しません。").arg(m_target.hostPort());
    }
    // A loss reads as the link's reason, whichever call noticed it.
    const int lost = ended ? ended : m_explainedError;
    if (lost && (error == 0 || error == EIO || error == EPIPE || error == lost))
        return ended ? describe(lost, m_target, true) : m_explained;
    return {};
}

void RemoteBackend::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_link->wake, &one, sizeof one);
}

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
    int unconfirmed(int& lines) override { return m_current->unconfirmed(lines); }
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

} // namespace remote

std::unique_ptr<SerialBackend> makeRemoteBackend(const RemoteTarget& target) {
    return std::make_unique<remote::RemoteBackend>(target);
}

std::unique_ptr<SerialBackend> makePortBackend() {
    return std::make_unique<remote::PortBackend>();
}
