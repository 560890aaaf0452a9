#pragma once

#include <QString>
#include <memory>

// Line settings as the driver holds them: what is applied and what is read
// back. `twoStopBits` is the UART's second stop bit (1.5 with 5 data bits).
struct LineConfig {
    int speed = 9600;
    int dataBits = 8;
    char parity = 'n'; // n e o m s
    bool twoStopBits = false;
    int handshaking = 0; // 0 none, 1 Xon/Xoff, 2 RTS/CTS, 3 both

    bool operator==(const LineConfig& other) const {
        return speed == other.speed && dataBits == other.dataBits && parity == other.parity &&
               twoStopBits == other.twoStopBits && handshaking == other.handshaking;
    }
    bool operator!=(const LineConfig& other) const { return !(*this == other); }
};

// Modem line bits as reported by SerialBackend::modemLines.
enum ModemLine : int {
    LineDTR = 0x01,
    LineRTS = 0x02,
    LineCTS = 0x04,
    LineDSR = 0x08,
    LineCD = 0x10,
    LineRI = 0x20,
};

// The driver's running error and transition counters (TIOCGICOUNT).
struct LineCounters {
    int cts = 0, dsr = 0, rng = 0, dcd = 0;
    int frame = 0, parity = 0, brk = 0, overrun = 0, bufOverrun = 0;
};

// The system calls the component makes, so tests can script what a pty
// cannot do. Calls return 0 (or a count) on success and -errno on failure.
class SerialBackend {
public:
    virtual ~SerialBackend() = default;

    // Opens non-blocking with exclusive access and saves the original settings.
    virtual int open(const QString& path) = 0;
    // An open that takes a while (a network connection) may be started here
    // and finished by finishOpen(), so the caller's thread stays free: both
    // give -EINPROGRESS while it goes on, then what open() would have.
    virtual int beginOpen(const QString& path) { return open(path); }
    virtual int finishOpen() { return 0; }
    // Flushes pending output, restores the original settings, closes; also
    // ends an open still under way.
    virtual void close() = 0;
    // Readable when data or a hang-up is waiting; writable when output fits.
    virtual int fd() const = 0;
    // Whether line errors and breaks arrive marked (PARMRK) on the open
    // device; a device that cannot have them is read unmarked.
    virtual bool marksLineErrors() const = 0;

    // May be called from a reader thread while the other calls are made.
    virtual long read(char* buffer, long size) = 0; // 0 means hung up
    virtual long write(const char* data, long size) = 0;

    // A far end that answers in its own time (a network port) gives
    // -EINPROGRESS from apply(): the settings went out, and readBack() gives
    // -EINPROGRESS until the answers are in, then what it would have given.
    virtual int apply(const LineConfig& config) = 0;
    virtual int readBack(LineConfig& config) = 0;

    virtual int modemLines(int& bits) = 0;
    // -EINPROGRESS from setDtr() and setRts(): sent, and unconfirmed() tells
    // later whether the far end confirmed it.
    virtual int setDtr(bool on) = 0;
    virtual int counters(LineCounters& counters) = 0;
    virtual int outQueue(int& bytes) = 0;
    virtual int setRts(bool on) = 0;
    // Lines sent but never confirmed (LineDTR, LineRTS), each told once;
    // -EINPROGRESS while an answer may still come.
    virtual int unconfirmed(int& lines) {
        lines = 0;
        return 0;
    }
    // Starts or ends a BREAK on the line (TIOCSBRK, TIOCCBRK).
    virtual int setBreak(bool on) = 0;
    // Drops output the driver still holds.
    virtual int flushOutput() = 0;

    // The backend's own account of `error`, the last failure of open(), of
    // apply() or of the connection, where it knows more than errno (a network
    // port names its host); empty for errno's text. A loss stays told after
    // close().
    virtual QString explain(int error) const {
        Q_UNUSED(error);
        return {};
    }
};

// The real backend over termios.
std::unique_ptr<SerialBackend> makeTermiosBackend();
