// Remote ports through Debian's ser2net on 127.0.0.1 (chardelay off),
// serving a pty: the throughput of an 8 MiB flood into the component over
// RFC 2217 and raw TCP against socat reading the same kind of port, and the
// one-way latency of a byte over RFC 2217 against a plain TCP read.
// Prints figures; asserts nothing.
#include "PtyPair.h"
#include "Ser2net.h"
#include "serial/SerialCtl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 floodSize = 8 << 20;
constexpr int latencySamples = 300;

// Bytes 0 .. 254: nothing a telnet layer must double.
QByteArray pattern(qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char(i % 255);
    return bytes;
}

void link(const QTemporaryDir& config, const QString& url) {
    const QString path = config.path() + QStringLiteral("/velmora/ports/com5");
    QFile::remove(path);
    QFile::link(url, path);
}

// Feeds the master from a thread of its own while the caller reads.
std::thread flood(PtyPair& pty, const QByteArray& bytes) {
    return std::thread([&pty, &bytes] { pty.write(bytes, 60000); });
}

// The connection is made in the background; the window would wait in its event loop.
bool openAndWait(SerialCtl& serial) {
    serial.setPortOpen(true);
    while (serial.connecting())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return serial.PortOpen();
}

double componentFlood(const QTemporaryDir& config, bool telnet) {
    PtyPair pty;
    Ser2net server(pty.slavePath(), telnet);
    if (!server.start())
        return -1;
    link(config, server.url());
    SerialCtl serial;
    serial.setCommPort(5);
    serial.setSettings(QStringLiteral("115200,n,8,1"));
    if (!openAndWait(serial))
        return -1;
    const QByteArray bytes = pattern(floodSize);
    qint64 got = 0;
    QElapsedTimer clock;
    clock.start();
    std::thread writer = flood(pty, bytes);
    while (got < floodSize && clock.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        got += serial.Input().size();
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    writer.join();
    return got >= floodSize ? double(floodSize) / seconds / 1e6 : -1;
}

double socatFlood() {
    PtyPair pty;
    Ser2net server(pty.slavePath(), false);
    if (!server.start())
        return -1;
    QProcess socat;
    socat.start(QStringLiteral("socat"),
                {"-u", QStringLiteral("TCP:127.0.0.1:%1").arg(server.port()), "STDOUT"});
    if (!socat.waitForStarted(5000))
        return -1;
    // Once socat has something, ser2net has the device open.
    pty.write("x");
    qint64 got = 0;
    while (got < 1 && socat.waitForReadyRead(5000))
        got += socat.readAllStandardOutput().size();
    const QByteArray bytes = pattern(floodSize);
    got = 0;
    QElapsedTimer clock;
    clock.start();
    std::thread writer = flood(pty, bytes);
    while (got < floodSize && clock.elapsed() < 60000) {
        socat.waitForReadyRead(50);
        got += socat.readAllStandardOutput().size();
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    writer.join();
    socat.kill();
    socat.waitForFinished();
    return got >= floodSize ? double(floodSize) / seconds / 1e6 : -1;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[size_t(p * double(values.size() - 1))];
}

// Microseconds from a byte written on the master to the component having it.
std::vector<double> componentLatency(const QTemporaryDir& config, bool telnet) {
    std::vector<double> samples;
    PtyPair pty;
    Ser2net server(pty.slavePath(), telnet);
    if (!server.start())
        return samples;
    link(config, server.url());
    SerialCtl serial;
    serial.setCommPort(5);
    if (!openAndWait(serial))
        return samples;
    serial.setOutput(QStringLiteral("x")); // read back once the server has the device open
    pty.read(1, 5000);
    for (int i = 0; i < latencySamples; ++i) {
        QElapsedTimer clock;
        clock.start();
        pty.write("L");
        while (serial.Input().isEmpty() && clock.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        samples.push_back(double(clock.nsecsElapsed()) / 1e3);
    }
    return samples;
}

// The same over a plain socket to a raw TCP port of the same server kind.
std::vector<double> tcpLatency() {
    std::vector<double> samples;
    PtyPair pty;
    Ser2net server(pty.slavePath(), false);
    if (!server.start())
        return samples;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return samples;
    char byte = 0;
    ::send(fd, "x", 1, 0); // read back once the server has the device open
    pty.read(1, 5000);
    for (int i = 0; i < latencySamples; ++i) {
        QElapsedTimer clock;
        clock.start();
        pty.write("L");
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0 || ::recv(fd, &byte, 1, 0) != 1)
            break;
        samples.push_back(double(clock.nsecsElapsed()) / 1e3);
    }
    ::close(fd);
    return samples;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!Ser2net::installed()) {
        std::puts("ser2net is not installed");
        return 1;
    }
    QTemporaryDir config;
    QDir().mkpath(config.path() + QStringLiteral("/velmora/ports"));
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());

    const double socat = socatFlood();
    const double rfc2217 = componentFlood(config, true);
    const double raw = componentFlood(config, false);
    std::printf("8 MiB flood via ser2net (chardelay off), MB/s:\n");
    std::printf("  socat, raw TCP port      %8.1f\n", socat);
    std::printf("  Velmora, tcp://          %8.1f  (%.2fx socat)\n", raw, raw / socat);
    std::printf("  Velmora, rfc2217://      %8.1f  (%.2fx socat)\n", rfc2217, rfc2217 / socat);

    const std::vector<double> plain = tcpLatency();
    const std::vector<double> ours = componentLatency(config, true);
    const std::vector<double> oursRaw = componentLatency(config, false);
    std::printf("one byte, pty master to reader, %d samples, microseconds:\n", latencySamples);
    std::printf("  plain TCP read (raw port)   p50 %7.0f  p99 %7.0f\n", percentile(plain, 0.5),
                percentile(plain, 0.99));
    std::printf("  Velmora rfc2217:// Input()  p50 %7.0f  p99 %7.0f\n", percentile(ours, 0.5),
                percentile(ours, 0.99));
    std::printf("  Velmora tcp:// Input()      p50 %7.0f  p99 %7.0f\n", percentile(oursRaw, 0.5),
                percentile(oursRaw, 0.99));
    std::printf("  rfc2217:// added            p50 %7.0f  p99 %7.0f\n",
                percentile(ours, 0.5) - percentile(plain, 0.5),
                percentile(ours, 0.99) - percentile(plain, 0.99));
    return 0;
}
