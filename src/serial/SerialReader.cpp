#include "serial/SerialReader.h"

#include "serial/SerialBackend.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
// Large reads: one system call per burst rather than per 4 KiB.
constexpr long readSize = 64 * 1024;
} // namespace

SerialReader::SerialReader(SerialBackend& backend, long limit, std::function<void()> ready)
    : m_backend(backend), m_limit(limit), m_ready(std::move(ready)) {}

int SerialReader::start() {
    // Without its wake-up the thread could not be stopped on a silent line.
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0)
        return errno;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return 0;
}

SerialReader::~SerialReader() {
    stop();
    if (m_wake >= 0)
        ::close(m_wake);
}

void SerialReader::stop() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    wake();
    if (m_thread.joinable())
        m_thread.join();
}

SerialReader::Batch SerialReader::take(long most) {
    Batch batch;
    bool resume = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        batch.reads = m_times.take(m_ended || most >= m_queue.size() ? long(m_queue.size()) : most);
        if (m_ended || most >= m_queue.size()) {
            batch.bytes.swap(m_queue);
        } else if (most > 0) {
            batch.bytes = m_queue.left(most);
            m_queue.remove(0, most);
        }
        batch.more = !m_queue.isEmpty();
        batch.ended = m_ended;
        batch.error = m_error;
        m_notified = false;
        if (m_paused && m_queue.size() < m_limit) {
            m_paused = false;
            resume = true;
        }
    }
    if (resume)
        wake();
    return batch;
}

void SerialReader::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wake, &one, sizeof one);
}

void SerialReader::run() {
    std::vector<char> buffer(readSize);
    const int fd = m_backend.fd();
    for (;;) {
        long room = 0;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop)
                return;
            room = m_limit - long(m_queue.size());
            m_paused = room <= 0;
        }
        // While paused the driver keeps the data, but a hang-up still counts.
        pollfd fds[2] = {{m_wake, POLLIN, 0}, {fd, short(room > 0 ? POLLIN : 0), 0}};
        long n = 0;
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            n = -errno;
        } else if (fds[0].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(m_wake, &count, sizeof count);
            continue;
        } else if (room > 0 && fds[1].revents) {
            n = m_backend.read(buffer.data(), std::min(readSize, room));
        } else if (!(fds[1].revents & (POLLHUP | POLLERR))) {
            continue;
        }
        if (n == -EINTR || n == -EAGAIN || n == -EWOULDBLOCK)
            continue;
        const qint64 readMs = QDateTime::currentMSecsSinceEpoch();
        bool notify = false;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (n > 0) {
                m_queue.append(buffer.data(), n);
                m_times.add(n, readMs);
            } else {
                m_ended = true;
                m_error = n == 0 ? 0 : int(-n);
            }
            notify = !std::exchange(m_notified, true);
        }
        if (notify)
            m_ready();
        if (n <= 0)
            return;
    }
}
