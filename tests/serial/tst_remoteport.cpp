// Com5 pinned to a port that Debian's ser2net serves from a pty on
// 127.0.0.1, through the link as a user makes it; the test plays the device
// on the pty's master.
#include "PortsConfig.h"
#include "PtyPair.h"
#include "Ser2net.h"
#include "Waiting.h"
#include "serial/CustomSpeed.h"
#include "serial/SerialCtl.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray allByteValues() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

QByteArray readFromLine(PtyPair& pty, int count) {
    QByteArray got;
    loopUntil([&] {
        got += pty.read(count - int(got.size()), 5);
        return got.size() >= count;
    });
    return got;
}

// A pty that ser2net serves, and Com5 of a component linked to it.
struct Served {
    explicit Served(bool telnet) : server(pty.slavePath(), telnet) { serial.setCommPort(5); }
    PtyPair pty;
    Ser2net server;
    SerialCtl serial;
};

} // namespace

class RemotePortTest : public QObject {
    Q_OBJECT
private:
    PortsConfig m_config;
    void serve(Served& served) {
        QVERIFY2(served.server.start(), qPrintable(served.server.log()));
        QVERIFY(PortsConfig::pin(5, served.server.url()));
    }

private slots:
    void initTestCase() {
        if (!Ser2net::installed())
            QSKIP("ser2net is not installed (scripts/install-deps.sh)");
        QVERIFY(m_config.setUp());
    }

    void settingsReachTheLine_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("handshaking");
        QTest::addColumn<bool>("whileOpen");
        QTest::addColumn<unsigned>("speed");
        QTest::addColumn<bool>("twoStopBits");
        QTest::addColumn<tcflag_t>("flow"); // CRTSCTS or IXON
        QTest::newRow("standard speed at open")
            << "9600,n,8,1" << 0 << false << 9600u << false << tcflag_t(0);
        QTest::newRow("250000 and two stop bits at open")
            << "250000,n,8,2" << 0 << false << 250000u << true << tcflag_t(0);
        QTest::newRow("RTS/CTS on an open port")
            << "115200,n,8,1" << 2 << true << 115200u << false << tcflag_t(CRTSCTS);
        QTest::newRow("Xon/Xoff on an open port")
            << "57600,n,8,1" << 1 << true << 57600u << false << tcflag_t(IXON);
    }
    void settingsReachTheLine() {
        QFETCH(QString, settings);
        QFETCH(int, handshaking);
        QFETCH(bool, whileOpen);
        QFETCH(unsigned, speed);
        QFETCH(bool, twoStopBits);
        QFETCH(tcflag_t, flow);
        Served served(true);
        serve(served);
        PtyPair& pty = served.pty;
        SerialCtl& serial = served.serial;
        if (whileOpen)
            QCOMPARE(openFailure(serial), QStringLiteral("(opened)"));
        serial.setSettings(settings);
        serial.setHandshaking(handshaking);
        if (!whileOpen)
            QCOMPARE(openFailure(serial), QStringLiteral("(opened)"));
        termios t{};
        unsigned in = 0, out = 0;
        // A change on an open port is confirmed by the server in its own time.
        loopUntil([&] {
            return tcgetattr(pty.masterFd(), &t) == 0 &&
                   readActualSpeed(pty.masterFd(), &in, &out) == 0 && out == speed &&
                   (t.c_cflag & CRTSCTS) == (flow & CRTSCTS) && (t.c_iflag & IXON) == (flow & IXON);
        });
        QCOMPARE(out, speed);
        QCOMPARE(bool(t.c_cflag & CSTOPB), twoStopBits);
        QCOMPARE(t.c_cflag & CRTSCTS, flow & CRTSCTS);
        QCOMPARE(t.c_iflag & IXON, flow & IXON);
    }

    void everyByteValueBothWays_data() {
        QTest::addColumn<bool>("telnet");
        QTest::newRow("RFC 2217") << true;
        QTest::newRow("raw TCP") << false;
    }
    void everyByteValueBothWays() {
        QFETCH(bool, telnet);
        Served served(telnet);
        serve(served);
        PtyPair& pty = served.pty;
        SerialCtl& serial = served.serial;
        serial.setCodePage("ISO-8859-1");
        QCOMPARE(openFailure(serial), QStringLiteral("(opened)"));
        // Sent first: over raw TCP nothing says when the server has the
        // device open, and its open drops what the line held.
        const QByteArray all = allByteValues().repeated(64);
        serial.setOutput(QString::fromLatin1(all));
        QCOMPARE(readFromLine(pty, int(all.size())), all);
        QVERIFY(pty.write(all));
        QByteArray received;
        QVERIFY(loopUntil([&] {
            received += serial.Input();
            return received.size() >= all.size();
        }));
        QCOMPARE(received, all);
        QVERIFY(!serial.CTSHolding()); // a pty has no modem lines; raw TCP none at all
    }

    // Killed while data flows: one loss naming the server, then back with
    // the same settings once it is restarted, and the data goes on.
    void serverKilledAndRestarted() {
        Served served(true);
        serve(served);
        PtyPair& pty = served.pty;
        SerialCtl& serial = served.serial;
        serial.setSettings("250000,n,8,1");
        QStringList lost;
        QSignalSpy reconnected(&serial, &ISerialCtl::Reconnected);
        connect(&serial, &ISerialCtl::DeviceLost, this,
                [&](const QString& description) { lost << description; });
        QCOMPARE(openFailure(serial), QStringLiteral("(opened)"));
        const QByteArray chunk = QByteArray("0123456789abcdef").repeated(256);
        for (int i = 0; i < 16; ++i)
            QVERIFY(pty.write(chunk));
        QVERIFY(loopUntil([&] { return !serial.Input().isEmpty(); }));
        served.server.kill();
        QVERIFY(loopUntil([&] { return !lost.isEmpty(); }));
        QCOMPARE(lost.size(), 1);
        QVERIFY2(lost.first().contains(QStringLiteral("127.0.0.1:%1").arg(served.server.port())),
                 qPrintable(lost.first()));
        QVERIFY(serial.waitingForDevice());

        QVERIFY2(served.server.start(), qPrintable(served.server.log()));
        QVERIFY(loopUntil([&] { return reconnected.count() == 1; }));
        QVERIFY(serial.PortOpen());
        QCOMPARE(lost.size(), 1);
        unsigned in = 0, out = 0;
        QCOMPARE(readActualSpeed(pty.masterFd(), &in, &out), 0);
        QCOMPARE(out, 250000u);
        serial.Input();
        QVERIFY(pty.write("after\r\n"));
        QByteArray received;
        QVERIFY(loopUntil([&] {
            received += serial.Input();
            return received.endsWith("after\r\n");
        }));
    }

    // Each way of not getting through has its own words.
    void connectFailures_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nobody listens") << "rfc2217://127.0.0.1:FREE"
                                        << "接続を拒否されました";
        QTest::newRow("listens, never speaks telnet") << "rfc2217://127.0.0.1:SILENT"
                                                      << "127.0.0.1:SILENT から応答がありません";
        QTest::newRow("name that cannot resolve") << "rfc2217://no-such-host.invalid:7000"
                                                  << "no-such-host.invalid を解決できません";
    }
    void connectFailures() {
        QFETCH(QString, target);
        QFETCH(QString, expected);
        // A listener that never accepts: the kernel completes the handshake.
        const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        QCOMPARE(::bind(silent, reinterpret_cast<sockaddr*>(&address), size), 0);
        QCOMPARE(::listen(silent, 4), 0);
        ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size);
        const int silentPort = ntohs(address.sin_port);
        Ser2net unused(QStringLiteral("/dev/null"), true); // a free port, never started
        const QString silentText = QString::number(silentPort);
        QVERIFY(PortsConfig::pin(5, QString(target)
                                        .replace("FREE", QString::number(unused.port()))
                                        .replace("SILENT", silentText)));
        SerialCtl serial;
        serial.setCommPort(5);
        const QString failure = openFailure(serial);
        QVERIFY2(failure.contains(expected.replace("SILENT", silentText)), qPrintable(failure));
        QVERIFY(!serial.PortOpen() && !serial.connecting());

        // The user need not wait for a silent server: closing ends the try.
        if (QTest::currentDataTag() == QLatin1String("listens, never speaks telnet")) {
            QSignalSpy closed(&serial, &ISerialCtl::PortClosed);
            for (int round = 0; round < 2; ++round) { // the lock was let go
                serial.setPortOpen(true);
                QVERIFY(serial.connecting());
                serial.setPortOpen(false);
                QVERIFY(!serial.connecting() && !serial.PortOpen());
            }
            QCOMPARE(closed.count(), 2);
        }
        ::close(silent);
    }
};

QTEST_MAIN(RemotePortTest)
#include "tst_remoteport.moc"
