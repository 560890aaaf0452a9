#pragma once

#include "serial/SerialBackend.h"

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

// A scripted driver for what a pty cannot show: line errors, modem lines,
// counters, partial writes, a driver that keeps other settings than asked.
// Its descriptor is one end of a socket pair: scripted input makes it
// readable, and it is always writable. Input is read on the component's
// reader thread, so what it touches is guarded.
class FakeSerialBackend : public SerialBackend {
public:
    FakeSerialBackend() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, m_pair); }
    ~FakeSerialBackend() override {
        ::close(m_pair[0]);
        ::close(m_pair[1]);
    }

    void feed(const QByteArray& chunk) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_chunks.append(chunk);
        m_drained = false;
        wake();
    }
    void hangUp() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_hungUp = true;
        wake();
    }
    // Everything fed has been read, and the reader has come back for more
    // (so what it read is on its way to the component).
    bool drained() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_drained;
    }

    int hangUpError = 0; // what a read gives once hung up: 0, or this errno
    bool marks = true;
    bool opened = false;
    int openError = 0;
    QStringList missing; // devices whose open finds nothing
    int readBackError = 0;
    int applyError = 0;
    std::function<LineConfig(LineConfig)> driver; // what the driver keeps
    LineConfig config;
    bool hasModemLines = false;
    int lines = 0;
    bool hasCounters = false;
    LineCounters counterValues;
    long acceptPerWrite = -1; // bytes taken per write call, -1 all
    long acceptTotal = -1;    // bytes taken before EAGAIN, -1 unlimited
    QByteArray written;
    int kernelQueue = 0;
    QStringList calls;

    int open(const QString& path) override {
        calls << QStringLiteral("open ") + path;
        if (openError)
            return -openError;
        const QFileInfo device(path);
        if (missing.contains(device.isSymLink() ? device.symLinkTarget() : path))
            return -ENOENT;
        opened = true;
        return 0;
    }
    // A network port's open: it goes on until `connected` says how it
    // ended, 0 or an errno.
    bool slowOpen = false;
    int connected = EINPROGRESS;
    int beginOpen(const QString& path) override {
        if (!slowOpen)
            return open(path);
        calls << QStringLiteral("begin ") + path;
        return -EINPROGRESS;
    }
    int finishOpen() override {
        opened = connected == 0;
        return -connected;
    }
    void close() override {
        calls << QStringLiteral("close");
        opened = false;
    }
    int fd() const override { return m_pair[0]; }
    bool marksLineErrors() const override { return marks; }

    long read(char* buffer, long size) override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        char tokens[64];
        while (::read(m_pair[0], tokens, sizeof tokens) > 0) {
        }
        if (m_chunks.isEmpty()) {
            m_drained = true;
            return m_hungUp ? -hangUpError : -EAGAIN;
        }
        QByteArray& first = m_chunks.first();
        const long n = std::min<long>(size, long(first.size()));
        std::memcpy(buffer, first.constData(), size_t(n));
        first.remove(0, n);
        if (first.isEmpty())
            m_chunks.removeFirst();
        wake(); // come back: for more, for the hang-up, or to report drained
        return n;
    }

    long write(const char* data, long size) override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_hungUp)
            return -EIO;
        long n = acceptPerWrite < 0 ? size : std::min(size, acceptPerWrite);
        if (acceptTotal >= 0)
            n = std::min(n, acceptTotal - long(written.size()));
        if (n <= 0)
            return -EAGAIN;
        written.append(data, n);
        return n;
    }

    int apply(const LineConfig& wanted) override {
        calls << QStringLiteral("apply %1").arg(wanted.speed);
        if (applyError)
            return -applyError;
        config = driver ? driver(wanted) : wanted;
        return 0;
    }
    int readBack(LineConfig& actual) override {
        if (readBackError)
            return -readBackError;
        actual = config;
        return 0;
    }
    int modemLines(int& bits) override {
        bits = lines;
        return hasModemLines ? 0 : -ENOTTY;
    }
    int setDtr(bool on) override {
        calls << QStringLiteral("dtr %1").arg(on);
        if (!hasModemLines)
            return -ENOTTY;
        lines = on ? (lines | LineDTR) : (lines & ~LineDTR);
        return 0;
    }
    int counters(LineCounters& values) override {
        values = counterValues;
        return hasCounters ? 0 : -ENOTTY;
    }
    int outQueue(int& bytes) override {
        bytes = kernelQueue;
        return 0;
    }
    int setRts(bool on) override {
        calls << QStringLiteral("rts %1").arg(on);
        if (!hasModemLines)
            return -ENOTTY;
        lines = on ? (lines | LineRTS) : (lines & ~LineRTS);
        return 0;
    }
    int setBreak(bool on) override {
        calls << QStringLiteral("break %1").arg(on);
        return 0;
    }
    int flushOutput() override {
        calls << QStringLiteral("flush");
        kernelQueue = 0;
        return 0;
    }

private:
    void wake() { [[maybe_unused]] const auto n = ::write(m_pair[1], "x", 1); }
    int m_pair[2] = {-1, -1};
    std::mutex m_mutex;
    QList<QByteArray> m_chunks;
    bool m_hungUp = false;
    bool m_drained = true;
};
