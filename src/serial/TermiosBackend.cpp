#include "serial/CustomSpeed.h"
#include "serial/SerialBackend.h"
#include "serial/TermiosHelpers.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

class TermiosBackend : public SerialBackend {
public:
    ~TermiosBackend() override { close(); }

    int open(const QString& path) override {
        close();
        const QByteArray name = path.toLocal8Bit();
        int fd;
        do {
            fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return -errno;
        // TIOCEXCL stops ordinary users; flock also stops root and any
        // program that locks the same way. Taken before anything changes
        // the line, so a port another program holds stays as it was.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
            return failOpen(fd);
        if (::tcgetattr(fd, &m_original) != 0)
            return failOpen(fd);
        // Until raw mode is on, the line discipline echoes what a talking
        // device sends back to it and turns its CRs into LFs; what arrived
        // under those rules is discarded.
        struct stat st {};
        m_marks = ::fstat(fd, &st) != 0 || canHaveLineErrors(st.st_rdev);
        termios raw = m_original;
        setRawMode(raw, m_marks);
        if (::tcsetattr(fd, TCSANOW, &raw) != 0)
            return failOpen(fd);
        // Nothing of ours is queued yet: output pending now is echo still on
        // its way back to the device.
        ::tcflush(fd, TCIOFLUSH);
        ::ioctl(fd, TIOCEXCL);
        m_fd = fd;
        // USB adapters otherwise hold received bytes up to 16 ms (ftdi_sio
        // since Linux 4.9); a driver that refuses keeps its pace.
        m_lowLatencySet = setLowLatency(true);
        return 0;
    }

    void close() override {
        if (m_fd < 0)
            return;
        // Output held back by flow control would make close() wait.
        ::tcflush(m_fd, TCOFLUSH);
        // The flag outlives the descriptor.
        if (std::exchange(m_lowLatencySet, false))
            setLowLatency(false);
        // The kernel keeps a UART's settings for its next open, which would
        // otherwise echo a talking device's bytes back until raw mode is on.
        termios restored = m_original;
        restored.c_lflag &= ~(ECHO | ECHONL);
        ::tcsetattr(m_fd, TCSANOW, &restored); // EIO on a hung-up line
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
    }

    int fd() const override { return m_fd; }
    bool marksLineErrors() const override { return m_marks; }

    long read(char* buffer, long size) override {
        const ssize_t n = ::read(m_fd, buffer, static_cast<size_t>(size));
        return n < 0 ? -errno : static_cast<long>(n);
    }

    long write(const char* data, long size) override {
        const ssize_t n = ::write(m_fd, data, static_cast<size_t>(size));
        return n < 0 ? -errno : static_cast<long>(n);
    }

    int apply(const LineConfig& config) override {
        termios t;
        if (::tcgetattr(m_fd, &t) != 0)
            return -errno;
        setRawMode(t, m_marks);
        setDataBits(t, config.dataBits);
        setParity(t, config.parity);
        setStopBits(t, config.twoStopBits);
        setFlowControl(t, config.handshaking);
        speed_t code;
        const bool standard = standardSpeedCode(config.speed, code);
        if (standard) {
            cfsetispeed(&t, code);
            cfsetospeed(&t, code);
        }
        if (::tcsetattr(m_fd, TCSANOW, &t) != 0)
            return -errno;
        if (!standard && setCustomSpeed(m_fd, static_cast<unsigned>(config.speed)) != 0)
            return -errno;
        return 0;
    }

    int readBack(LineConfig& config) override {
        termios t;
        if (::tcgetattr(m_fd, &t) != 0)
            return -errno;
        unsigned in = 0, out = 0;
        if (readActualSpeed(m_fd, &in, &out) != 0)
            return -errno;
        config = configFromTermios(t, static_cast<int>(out));
        // Drivers of the 8250 family repeat the requested rate while their
        // divisor makes another one; their clock tells which.
        serial_struct info{};
        if (::ioctl(m_fd, TIOCGSERIAL, &info) == 0)
            config.speed = divisorRate(info.baud_base, config.speed);
        return 0;
    }

    int modemLines(int& bits) override {
        int status = 0;
        if (::ioctl(m_fd, TIOCMGET, &status) != 0)
            return -errno;
        bits = 0;
        if (status & TIOCM_DTR)
            bits |= LineDTR;
        if (status & TIOCM_RTS)
            bits |= LineRTS;
        if (status & TIOCM_CTS)
            bits |= LineCTS;
        if (status & TIOCM_DSR)
            bits |= LineDSR;
        if (status & TIOCM_CD)
            bits |= LineCD;
        if (status & TIOCM_RI)
            bits |= LineRI;
        return 0;
    }

    int setDtr(bool on) override {
        const int bit = TIOCM_DTR;
        return ::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 ? 0 : -errno;
    }

    int counters(LineCounters& counters) override {
        serial_icounter_struct c{};
        if (::ioctl(m_fd, TIOCGICOUNT, &c) != 0)
            return -errno;
        counters.cts = c.cts;
        counters.dsr = c.dsr;
        counters.rng = c.rng;
        counters.dcd = c.dcd;
        counters.frame = c.frame;
        counters.parity = c.parity;
        counters.brk = c.brk;
        counters.overrun = c.overrun;
        counters.bufOverrun = c.buf_overrun;
        return 0;
    }

    int outQueue(int& bytes) override { return ::ioctl(m_fd, TIOCOUTQ, &bytes) == 0 ? 0 : -errno; }

    int setRts(bool on) override {
        const int bit = TIOCM_RTS;
        return ::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 ? 0 : -errno;
    }
    // Not tcsendbreak: it first waits for pending output to drain, which
    // under a held XOFF is for ever, and then sleeps on the caller's thread.
    int setBreak(bool on) override {
        return ::ioctl(m_fd, on ? TIOCSBRK : TIOCCBRK) == 0 ? 0 : -errno;
    }
    int flushOutput() override { return ::tcflush(m_fd, TCOFLUSH) == 0 ? 0 : -errno; }

private:
    // Whether the flag was changed.
    bool setLowLatency(bool on) {
        serial_struct info{};
        if (::ioctl(m_fd, TIOCGSERIAL, &info) != 0 || bool(info.flags & ASYNC_LOW_LATENCY) == on)
            return false;
        info.flags = on ? info.flags | ASYNC_LOW_LATENCY : info.flags & ~ASYNC_LOW_LATENCY;
        return ::ioctl(m_fd, TIOCSSERIAL, &info) == 0;
    }

    static int failOpen(int fd) {
        const int error = errno;
        ::close(fd);
        return -error;
    }

    int m_fd = -1;
    bool m_marks = true;
    bool m_lowLatencySet = false;
    termios m_original{};
};

} // namespace

std::unique_ptr<SerialBackend> makeTermiosBackend() {
    return std::make_unique<TermiosBackend>();
}
