// Remote ports against a server that misbehaves and a line held off: the
// memory a flooding server makes the program hold, the bytes that reach the
// device after a stop, whether a connection survives flow held off, and how
// long the window waits on commands nobody answers. Prints figures; asserts
// nothing.
#include "FakeComPortServer.h"
#include "PtyPair.h"
#include "Ser2net.h"
#include "platform/Failure.h"
#include "serial/SerialCtl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

QTemporaryDir* config = nullptr;

void pin(SerialCtl& serial, const QString& url) {
    const QString path = config->path() + QStringLiteral("/velmora/ports/com5");
    QFile::remove(path);
    QFile::link(url, path);
    serial.setCommPort(5);
}

double residentMB() {
    long size = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return -1;
    const int got = std::fscanf(statm, "%ld %ld", &size, &resident);
    std::fclose(statm);
    return got == 2 ? double(resident) * double(sysconf(_SC_PAGESIZE)) / 1e6 : -1;
}

// Runs the event loop for `ms`; the longest time it went without a turn.
qint64 spin(qint64 ms, const std::function<bool()>& done = {}) {
    QElapsedTimer clock, turn;
    clock.start();
    turn.start();
    qint64 longest = 0;
    while (clock.elapsed() < ms && !(done && done())) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        longest = std::max(longest, turn.restart());
    }
    return longest;
}

// Opens and waits; the longest the event loop was held, and the time spent in setPortOpen.
bool open(SerialCtl& serial, qint64* held = nullptr, qint64* inCall = nullptr) {
    QElapsedTimer clock;
    clock.start();
    try {
        serial.setPortOpen(true);
    } catch (const Failure&) {
        return false;
    }
    if (inCall)
        *inCall = clock.elapsed();
    const qint64 longest = spin(8000, [&] { return !serial.connecting(); });
    if (held)
        *held = longest;
    return serial.PortOpen();
}

const QByteArray signatureRequest("\xff\xfa\x2c\x64\xff\xf0", 6);

void floods() {
    {
        FakeComPortServer server;
        SerialCtl serial;
        pin(serial, server.url());
        if (!open(serial)) {
            std::puts("signature flood: no open");
            return;
        }
        const double before = residentMB();
        server.flood(signatureRequest);
        double peak = before;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            spin(100);
            peak = std::max(peak, residentMB());
        }
        std::printf("signature flood, server reads nothing, 5 s: RSS +%.1f MB, %.1f MB taken "
                    "from the server\n",
                    peak - before, double(server.flooded()) / 1e6);
    }
    {
        FakeComPortServer server;
        server.greet = false;
        server.floodAtConnect = QByteArray("data before any agreement ").repeated(40);
        SerialCtl serial;
        pin(serial, server.url());
        const double before = residentMB();
        double peak = before;
        serial.setPortOpen(true);
        QElapsedTimer clock;
        clock.start();
        while (serial.connecting() && clock.elapsed() < 8000) {
            spin(50);
            peak = std::max(peak, residentMB());
        }
        std::printf("data flood before agreement: RSS peak +%.1f MB, %.1f MB taken, settled "
                    "after %lld ms\n",
                    peak - before, double(server.flooded()) / 1e6, clock.elapsed());
    }
}

// A device reading at 115200 baud; after a stop, what still reaches it.
void stop() {
    PtyPair pty;
    Ser2net server(pty.slavePath(), true);
    if (!server.start()) {
        std::puts("stop: ser2net did not start");
        return;
    }
    SerialCtl serial;
    pin(serial, server.url());
    serial.setSettings(QStringLiteral("115200,n,8,1"));
    if (!open(serial)) {
        std::puts("stop: no open");
        return;
    }
    std::atomic<bool> slow{true}, done{false};
    std::atomic<qint64> got{0};
    std::thread device([&] {
        QElapsedTimer clock;
        clock.start();
        qint64 allowed = 0;
        while (!done) {
            if (slow)
                allowed = clock.elapsed() * 11520 / 1000;
            const qint64 want = slow ? std::min<qint64>(allowed - got, 4096) : 65536;
            if (want <= 0) {
                ::usleep(2000);
                continue;
            }
            got += pty.read(int(want), 20).size();
        }
    });
    const QByteArray piece(4096, 'S');
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 4000) {
        try {
            serial.setOutputBytes(piece);
        } catch (const Failure&) {
            spin(5);
        }
    }
    const int counted = serial.OutBufferCount();
    const qint64 before = got;
    serial.discardOutput();
    slow = false;
    spin(3000);
    done = true;
    device.join();
    std::printf("stop after 4 s of sending to a 115200-baud device: OutBufferCount %d before, "
                "%lld bytes reached the device after\n",
                counted, got - before);
}

// A device that never reads: flow held off for 15 s.
void heldOff(bool telnet) {
    PtyPair pty;
    Ser2net server(pty.slavePath(), telnet);
    if (!server.start())
        return;
    SerialCtl serial;
    pin(serial, server.url());
    if (!open(serial))
        return;
    QElapsedTimer clock;
    clock.start();
    qint64 lostAt = -1;
    QObject::connect(&serial, &ISerialCtl::DeviceLost, [&] { lostAt = clock.elapsed(); });
    const QByteArray piece(1024, 'H');
    while (clock.elapsed() < 15000 && lostAt < 0) {
        try {
            if (serial.PortOpen())
                serial.setOutputBytes(piece);
        } catch (const Failure&) {
        }
        spin(20);
    }
    if (lostAt < 0)
        std::printf("%s, flow held off: connection kept for 15 s\n", telnet ? "rfc2217" : "tcp");
    else
        std::printf("%s, flow held off: connection lost at %.1f s\n", telnet ? "rfc2217" : "tcp",
                    double(lostAt) / 1000);
}

void freezes() {
    {
        FakeComPortServer server;
        server.silentCommands = {1};
        SerialCtl serial;
        pin(serial, server.url());
        qint64 held = 0, inCall = 0;
        open(serial, &held, &inCall);
        std::printf("speed unanswered at open: event loop held %lld ms (setPortOpen %lld ms)\n",
                    std::max(held, inCall), inCall);
    }
    {
        FakeComPortServer server;
        SerialCtl serial;
        pin(serial, server.url());
        open(serial);
        server.silentCommands = {1};
        QElapsedTimer clock;
        clock.start();
        try {
            serial.setSettings(QStringLiteral("19200,n,8,1"));
        } catch (const Failure&) {
        }
        const qint64 call = clock.elapsed();
        const qint64 held = spin(5000);
        std::printf("speed unanswered on a change: setSettings %lld ms, event loop held %lld ms\n",
                    call, held);
    }
    {
        FakeComPortServer server;
        server.silentControls = {8, 9, 11, 12};
        SerialCtl serial;
        pin(serial, server.url());
        qint64 held = 0, inCall = 0;
        open(serial, &held, &inCall);
        QElapsedTimer clock;
        clock.start();
        serial.setDTREnable(false);
        serial.setRTSEnable(false);
        std::printf("DTR/RTS unconfirmed: open held the event loop %lld ms, DTR+RTS change %lld "
                    "ms\n",
                    std::max(held, inCall), clock.elapsed());
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    config = &dir;
    QDir().mkpath(dir.path() + QStringLiteral("/velmora/ports"));
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    const QStringList which = app.arguments().mid(1);
    const auto want = [&](const char* name) {
        return which.isEmpty() || which.contains(QLatin1String(name));
    };
    if (want("freeze"))
        freezes();
    if (want("flood"))
        floods();
    if (want("stop") && Ser2net::installed())
        stop();
    if (want("held") && Ser2net::installed()) {
        heldOff(true);
        heldOff(false);
    }
    return 0;
}
