#pragma once

#include "serial/SerialBackend.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <unistd.h>

// A scripted driver for what a pty cannot show: line errors, modem lines,
// counters, partial writes, a driver that keeps other settings than asked.
// Its descriptor is one end of a socket pair: scripted input makes it
// readable, and it is always writable.
class FakeSerialBackend : public SerialBackend {
public:
    FakeSerialBackend() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, m_pair); }
    ~FakeSerialBackend() override {
        ::close(m_pair[0]);
        ::close(m_pair[1]);
    }

    void feed(const QByteArray& chunk) {
        chunks.append(chunk);
        wake();
    }
    void hangUp() {
        hungUp = true;
        wake();
    }

    QList<QByteArray> chunks;
    bool hungUp = false;
    int hangUpError = 0; // what a read gives once hung up: 0, or this errno
    bool opened = false;
    int openError = 0;
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
        opened = true;
        return 0;
    }
    void close() override {
        calls << QStringLiteral("close");
        opened = false;
    }
    int fd() const override { return m_pair[0]; }

    long read(char* buffer, long size) override {
        char tokens[64];
        while (::read(m_pair[0], tokens, sizeof tokens) > 0) {
        }
        if (chunks.isEmpty())
            return hungUp ? -hangUpError : -EAGAIN;
        QByteArray& first = chunks.first();
        const long n = std::min<long>(size, long(first.size()));
        std::memcpy(buffer, first.constData(), size_t(n));
        first.remove(0, n);
        if (first.isEmpty())
            chunks.removeFirst();
        if (!chunks.isEmpty() || hungUp)
            wake();
        return n;
    }

    long write(const char* data, long size) override {
        if (hungUp)
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

private:
    void wake() { [[maybe_unused]] const auto n = ::write(m_pair[1], "x", 1); }
    int m_pair[2] = {-1, -1};
};
