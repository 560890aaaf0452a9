// The connection thread at work: data both ways between the socket pair and
// the server, the server's notifications, and the end of the connection.
#include "serial/RemoteLink.h"

#include <algorithm>
#include <cstdint>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace remote {

namespace {

using TC = TelnetComPort;

// How often a connection with unacknowledged data is looked at.
constexpr int silenceCheckMs = 1000;

} // namespace

int Link::receive(std::vector<char>& buffer, int* verdict) {
    const ssize_t n = ::recv(tcp, buffer.data(), buffer.size(), 0);
    if (n == 0)
        return closedError;
    if (n < 0)
        return errno == EAGAIN || errno == EINTR ? -1 : errno;
    if (!telnet) {
        toNear.append(buffer.data(), n);
        return 0;
    }
    const auto events = codec.feed(buffer.data(), long(n), toNear, replies);
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

void Link::sent(long n) {
    // An FF doubled on the wire must not be cut in half by a stop.
    if (outIsData)
        for (long i = 0; i < n; ++i)
            pairOpen = pairOpen ? false : static_cast<unsigned char>(out.at(i)) == TC::IAC;
    out.remove(0, n);
}

// Unacknowledged data and no word from the server for a while: it is gone.
// A device holding flow off leaves the window shut, and the window probes
// are still answered.
bool Link::serverSilent() const {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(tcp, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    return info.tcpi_unacked > 0 &&
           std::chrono::milliseconds(info.tcpi_last_ack_recv) >= silenceLimit;
}

void Link::pump() {
    std::vector<char> buffer(chunk);
    for (;;) {
        const int error = pumpOnce(buffer);
        if (error < 0)
            return;
        if (error > 0) {
            end(error);
            return;
        }
    }
}

// One round: 0 to go on, -1 when stopped, else the errno that ended it.
int Link::pumpOnce(std::vector<char>& buffer) {
    bool suspendedNow = false;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (stop)
            return -1;
        if (std::exchange(flush, false) && outIsData) {
            out = pairOpen ? QByteArray(1, char(TC::IAC)) : QByteArray();
            outIsData = pairOpen = false;
        }
        // One kind at a time, each whole: replies, commands, then data.
        if (out.isEmpty()) {
            outIsData = false;
            out.swap(replies.isEmpty() ? control : replies);
        }
        suspendedNow = suspended;
    }
    queued = long(out.size());
    const bool readServer = toNear.size() < nearLimit && replies.size() < replyLimit;
    const bool readPair = out.isEmpty() && !suspendedNow;
    pollfd fds[3] = {
        {wake, POLLIN, 0},
        {tcp, short((readServer ? POLLIN : 0) | POLLRDHUP | (out.isEmpty() ? 0 : POLLOUT)), 0},
        {far, short((readPair ? POLLIN : 0) | (toNear.isEmpty() ? 0 : POLLOUT)), 0},
    };
    int inFlight = 0;
    const bool watch = ::ioctl(tcp, SIOCOUTQ, &inFlight) == 0 && inFlight > 0;
    const int ready = ::poll(fds, 3, watch ? silenceCheckMs : -1);
    if (ready < 0)
        return errno == EINTR ? 0 : errno;
    if (watch && serverSilent())
        return ETIMEDOUT;
    if (fds[0].revents) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto n = ::read(wake, &count, sizeof count);
    }
    if (fds[1].revents & (POLLIN | POLLERR | POLLHUP | POLLRDHUP)) {
        // A server gone while we hold back is read to its end now: a hang-up
        // is told whatever the reader is doing, and what came before it kept.
        const bool gone = fds[1].revents & (POLLERR | POLLHUP | POLLRDHUP);
        for (int error = 0; error <= 0;) {
            error = receive(buffer, nullptr);
            if (error > 0)
                return error;
            if (!gone || error < 0)
                break;
        }
    }
    if ((fds[1].revents & POLLOUT) && !out.isEmpty()) {
        const ssize_t n = ::send(tcp, out.constData(), size_t(out.size()), MSG_NOSIGNAL);
        if (n > 0)
            sent(long(n));
        else if (errno != EAGAIN && errno != EINTR)
            return errno;
    }
    if (fds[2].revents & (POLLHUP | POLLERR))
        return -1; // the backend closed its end
    if ((fds[2].revents & POLLIN) && out.isEmpty()) {
        const ssize_t n = ::read(far, buffer.data(), size_t(dataChunk));
        if (n > 0 && telnet)
            TC::escape(buffer.data(), long(n), out);
        else if (n > 0)
            out.append(buffer.data(), n);
        else if (n == 0)
            return -1;
        outIsData = n > 0;
        queued = long(out.size());
    }
    if ((fds[2].revents & POLLOUT) && !toNear.isEmpty()) {
        const ssize_t n = ::write(far, toNear.constData(), size_t(toNear.size()));
        if (n > 0)
            toNear.remove(0, n);
    }
    return 0;
}

// The connection is over: what fits goes to the reader at once, the rest is
// read after it; then the pair hangs up as a device does, whether or not
// anyone is reading.
void Link::end(int why) {
    while (!toNear.isEmpty() && far >= 0) {
        const ssize_t n = ::write(far, toNear.constData(), size_t(toNear.size()));
        if (n <= 0)
            break;
        toNear.remove(0, n);
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        error = why;
        ended = true;
        leftover.swap(toNear);
    }
    if (far >= 0)
        ::shutdown(far, SHUT_RDWR);
    changed.notify_all();
}

} // namespace remote
