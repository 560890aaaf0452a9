// Com5 pinned to a scripted RFC 2217 server, for what ser2net serving a
// pty cannot do: modem and line notifications, flow control suspend,
// answers that never come or tell another value, bytes cut anywhere.
#include "FakeComPortServer.h"
#include "PortsConfig.h"
#include "Waiting.h"
#include "serial/SerialCtl.h"

#include "serial/RemoteBackend.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray notify(int code, int bits) {
    return QByteArray("\xff\xfa\x2c", 3) + char(code) + char(bits) + QByteArray("\xff\xf0", 2);
}

// The user timeout of our connection to `port` on 127.0.0.1; -1 when none is found.
int userTimeoutToward(quint16 port) {
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System);
    for (const QString& name : fds) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        const int fd = name.toInt();
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
            peer.sin_family != AF_INET || ntohs(peer.sin_port) != port)
            continue;
        unsigned timeout = 0;
        size = sizeof timeout;
        ::getsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, &size);
        return int(timeout);
    }
    return -1;
}

// Far more than the program may hold of what a server sends it.
constexpr qint64 floodBound = 32 << 20;

// Sends pieces until the component refuses one; what it took.
qint64 sendUntilRefused(SerialCtl& serial, QString& refusal) {
    const QByteArray piece(4096, 'q');
    qint64 sent = 0;
    while (sent < (64 << 20)) {
        try {
            serial.setOutputBytes(piece);
            sent += piece.size();
        } catch (const Failure& failure) {
            refusal = failure.description();
            break;
        }
        QCoreApplication::processEvents();
    }
    return sent;
}

} // namespace

class ScriptedRemotePortTest : public QObject {
    Q_OBJECT
private:
    PortsConfig m_config;
    // Com5 of a new component leads to `server`.
    void pin(SerialCtl& serial, const FakeComPortServer& server) {
        QVERIFY(PortsConfig::pin(5, server.url()));
        serial.setCommPort(5);
    }

private slots:
    void initTestCase() { QVERIFY(m_config.setUp()); }

    // A server that misbehaves costs bounded memory, ends in a clear
    // failure, and the port still closes at once.
    void hostileServer_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("signature flood, nothing read") << "signature-flood"
                                                       << "の設定を変更できません";
        QTest::newRow("data flood before agreement") << "data-flood"
                                                     << "に応じません";
        QTest::newRow("commands never answered") << "silent"
                                                 << "の設定を変更できません";
        QTest::newRow("closed mid-subnegotiation") << "close-mid-sb"
                                                   << "が接続を閉じました。";
        QTest::newRow("server stops reading data") << "stalled"
                                                   << "送信バッファーがいっぱい";
    }
    void hostileServer() {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        FakeComPortServer server;
        if (script == "signature-flood")
            server.floodAtConnect = QByteArray("\xff\xfa\x2c\x64\xff\xf0", 6);
        server.greet = script != "data-flood";
        if (script == "data-flood")
            server.floodAtConnect = QByteArray("data before any agreement ");
        if (script == "silent")
            server.silentCommands = {1, 2, 3, 4, 5, 12};
        server.closeMidSubnegotiation = script == "close-mid-sb";
        SerialCtl serial;
        pin(serial, server);
        QString failure = openFailure(serial);
        if (script == "stalled") {
            QCOMPARE(failure, QStringLiteral("(opened)"));
            server.flood({});
            const qint64 sent = sendUntilRefused(serial, failure);
            // Queued toward the server: about what a device holds.
            QVERIFY2(sent <= 256 * 1024, qPrintable(QString::number(sent)));
            // Flow held off is no reason to drop the connection.
            QCOMPARE(userTimeoutToward(server.port()), 0);
            // A stop leaves little to reach the device, and all of it counted.
            const qint64 got = server.data().size();
            serial.discardOutput();
            const qint64 counted = serial.OutBufferCount();
            server.resume();
            QVERIFY(loopUntil([&] { return serial.OutBufferCount() == 0; }));
            QTest::qWait(50);
            const qint64 arrived = server.data().size() - got;
            QVERIFY2(
                arrived <= 96 * 1024 && arrived - counted <= 64 * 1024,
                qPrintable(QStringLiteral("%1 arrived, %2 counted").arg(arrived).arg(counted)));
        }
        QVERIFY2(failure.contains(expected), qPrintable(failure));
        QVERIFY2(server.flooded() < floodBound, qPrintable(QString::number(server.flooded())));
        serial.setPortOpen(false);
        QVERIFY(!serial.PortOpen() && !serial.connecting());
    }

    // What the server hears, in order, from one open.
    void openSendsPurgeMasksSettingsAndAsksThemBack() {
        FakeComPortServer server;
        SerialCtl serial;
        pin(serial, server);
        serial.setSettings("250000,n,8,2");
        serial.setHandshaking(2);
        QCOMPARE(openFailure(serial), QStringLiteral("(opened)"));
        QCOMPARE(server.commands().join(' '), "12:03 10:1e 11:ff "
                                              "1:0003d090 2:08 3:01 4:02 5:03 "
                                              "1:00000000 2:00 3:00 4:00 5:00 "
                                              "5:08");
    }

    void openWithAServerThatDiffers_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected"); // in the failure, or "(opened)"
        QTest::newRow("DTR never answered: opens all the same") << "silent-dtr"
                                                                << "(opened)";
        QTest::newRow("speed never answered") << "silent-speed"
                                              << "の設定を変更できません";
        QTest::newRow("data bits asked back differ") << "report-7-bits"
                                                     << "受け付けませんでした";
        QTest::newRow("speed asked back differs") << "report-4800"
                                                  << "実際の設定: 4800";
        QTest::newRow("option refused") << "refuse"
                                        << "RFC 2217 (COM-PORT-OPTION) に応じません";
        QTest::newRow("RTS/CTS with Xon/Xoff") << "both-flows"
                                               << "RTS/CTS と Xon/Xoff の併用";
        QTest::newRow("speed unanswered on a change: told later, settings kept")
            << "silent-speed-later"
            << "(opened)";
    }
    void openWithAServerThatDiffers() {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        FakeComPortServer server;
        server.refuseOption = script == "refuse";
        if (script == "silent-dtr")
            server.silentControls = {8, 9};
        if (script == "silent-speed")
            server.silentCommands = {1};
        if (script == "report-7-bits")
            server.reported.insert(2, "\x07");
        if (script == "report-4800")
            server.reported.insert(1, QByteArray::fromHex("000012c0"));
        SerialCtl serial;
        pin(serial, server);
        if (script == "both-flows")
            serial.setHandshaking(3);
        QStringList notices;
        connect(&serial, &ISerialCtl::Notice, this, [&](const QString& text) { notices << text; });
        const QString failure = openFailure(serial);
        QVERIFY2(failure.contains(expected), qPrintable(failure));
        QCOMPARE(serial.PortOpen(), expected == "(opened)");
        if (script == "silent-dtr") {
            // Said in the status panel.
            QVERIFY(loopUntil([&] { return !notices.isEmpty(); }));
            QVERIFY2(notices.first().contains("DTR"), qPrintable(notices.first()));
        }
        if (script == "silent-speed-later") {
            QSignalSpy refused(&serial, &ISerialCtl::SettingsRefused);
            server.silence({1});
            serial.setSettings("19200,n,8,1"); // returns at once; a Failure would fail here
            QVERIFY(refused.wait(10000));
            const QString text = refused.first().first().toString();
            QVERIFY2(text.contains("の設定を変更できません"), qPrintable(text));
            QCOMPARE(serial.Settings(), QStringLiteral("9600,n,8,1"));
            QVERIFY(serial.PortOpen());
        }
    }

    // A loss over the network reads as one, whatever the reader was doing.
    void lossIsTold_data() {
        QTest::addColumn<bool>("paused");
        QTest::addColumn<QString>("expected"); // after the server's address
        QTest::newRow("server closes") << false << " が接続を閉じました。サーバーが応じると";
        QTest::newRow("server resets while reading is paused")
            << true << " との接続がリセットされました。サーバーが応じると";
    }
    void lossIsTold() {
        QFETCH(bool, paused);
        QFETCH(QString, expected);
        FakeComPortServer server;
        SerialCtl serial;
        pin(serial, server);
        QCOMPARE(openFailure(serial), QStringLiteral("(opened)"));
        QStringList lost;
        connect(&serial, &ISerialCtl::DeviceLost, this, [&](const QString& text) { lost << text; });
        if (paused) {
            // Nobody takes the data: the receive buffer fills and reading stops.
            serial.setRThreshold(0);
            server.flood(QByteArray(4096, 'p'));
            qint64 before = -1;
            while (server.flooded() != before) {
                before = server.flooded();
                QTest::qWait(300);
            }
            QVERIFY(before > PortSession::receiveLimit);
        }
        server.hangUp(paused);
        QVERIFY(loopUntil([&] { return !lost.isEmpty(); }));
        QCOMPARE(lost.size(), 1);
        const QString where = QStringLiteral("サーバー 127.0.0.1:%1").arg(server.port());
        QVERIFY2(lost.first().contains(where + expected), qPrintable(lost.first()));
    }

    // Without a descriptor for its wake-up the open fails at once rather than
    // leave a thread nobody can stop.
    void noDescriptorForTheWakeUp() {
        FakeComPortServer server;
        const auto backend = makeRemoteBackend(RemoteTarget::parse(server.url()));
        rlimit before{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &before), 0);
        // Every descriptor below the top taken: room for the socket pair only.
        QList<int> fillers{::open("/dev/null", O_RDONLY | O_CLOEXEC)};
        QVERIFY(fillers.first() >= 0);
        const QStringList open = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System);
        int top = 0;
        for (const QString& name : open)
            top = std::max(top, name.toInt());
        for (int fd = ::dup(fillers.first()); fd >= 0 && fd < top; fd = ::dup(fillers.first()))
            fillers << fd;
        rlimit tight = before;
        tight.rlim_cur = rlim_t(top + 3);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        const int rc = backend->beginOpen(server.url());
        ::setrlimit(RLIMIT_NOFILE, &before);
        for (const int fd : fillers)
            ::close(fd);
        QCOMPARE(rc, -EMFILE);
        backend->close();
    }

    void notificationsRaiseTheLocalEvents_data() {
        QTest::addColumn<QList<QByteArray>>("sends"); // one send() each
        QTest::addColumn<QList<int>>("events");
        QTest::addColumn<bool>("cts");
        QTest::addColumn<bool>("dsr");
        QTest::newRow("CTS comes on")
            << QList<QByteArray>{notify(107, 0x11)} << QList<int>{3} << true << false;
        QTest::newRow("DSR and CD on, no delta bits")
            << QList<QByteArray>{notify(107, 0xa0)} << QList<int>{4, 5} << false << true;
        QTest::newRow("ring") << QList<QByteArray>{notify(107, 0x44)} << QList<int>{6} << false
                              << false;
        QTest::newRow("notification cut between two segments")
            << QList<QByteArray>{QByteArray("\xff\xfa\x2c\x6b", 4), QByteArray("\x11\xff\xf0", 3)}
            << QList<int>{3} << true << false;
        QTest::newRow("break") << QList<QByteArray>{notify(106, 0x10)} << QList<int>{1001} << false
                               << false;
        QTest::newRow("framing, parity and overrun at once")
            << QList<QByteArray>{notify(106, 0x0e)} << QList<int>{1004, 1006, 1009} << false
            << false;
    }
    void notificationsRaiseTheLocalEvents() {
        QFETCH(QList<QByteArray>, sends);
        QFETCH(QList<int>, events);
        QFETCH(bool, cts);
        QFETCH(bool, dsr);
        FakeComPortServer server;
        SerialCtl serial;
        pin(serial, server);
        QCOMPARE(openFailure(serial), QStringLiteral("(opened)"));
        QList<int> raised;
        connect(&serial, &ISerialCtl::OnComm, this, [&] { raised << serial.CommEvent(); });
        for (const QByteArray& bytes : sends)
            server.send(bytes);
        QVERIFY(loopUntil([&] {
            return std::all_of(events.begin(), events.end(),
                               [&](int code) { return raised.contains(code); });
        }));
        std::sort(raised.begin(), raised.end());
        raised.erase(std::unique(raised.begin(), raised.end()), raised.end());
        QCOMPARE(raised, events);
        QCOMPARE(serial.CTSHolding(), cts);
        QCOMPARE(serial.DSRHolding(), dsr);
    }

    // Data bytes FF cut between segments, and data held while suspended.
    void dataAcrossSegmentsAndSuspend() {
        FakeComPortServer server;
        SerialCtl serial;
        serial.setCodePage("ISO-8859-1");
        pin(serial, server);
        QCOMPARE(openFailure(serial), QStringLiteral("(opened)"));
        server.send(QByteArray("A\xff", 2));
        server.send(QByteArray("\xff"
                               "B",
                               2));
        QByteArray received;
        QVERIFY(loopUntil([&] {
            received += serial.Input();
            return received.size() >= 2;
        }));
        QCOMPARE(received, QByteArray("A\xff"
                                      "B",
                                      3));

        // Suspend, then a notification that shows it has been read.
        QList<int> raised;
        connect(&serial, &ISerialCtl::OnComm, this, [&] { raised << serial.CommEvent(); });
        server.send(QByteArray("\xff\xfa\x2c\x6c\xff\xf0", 6) + notify(107, 0x11));
        QVERIFY(loopUntil([&] { return raised.contains(3); }));
        serial.setOutput(QString::fromLatin1("held\xff"));
        server.send(notify(107, 0x01)); // CTS off: the output had its chance
        QVERIFY(loopUntil([&] { return !serial.CTSHolding(); }));
        QCOMPARE(server.data(), QByteArray());
        server.send(QByteArray("\xff\xfa\x2c\x6d\xff\xf0", 6));
        QVERIFY(loopUntil([&] { return server.data().size() >= 5; }));
        QCOMPARE(server.data(), QByteArray("held\xff"));
    }

    // DTR, RTS and BREAK: SET-CONTROL 8/9, 11/12 and 5/6.
    void linesGoThroughSetControl() {
        FakeComPortServer server;
        SerialCtl serial;
        pin(serial, server);
        QCOMPARE(openFailure(serial), QStringLiteral("(opened)"));
        serial.setDTREnable(false);
        serial.setDTREnable(true);
        serial.setRTSEnable(false);
        serial.setRTSEnable(true);
        serial.sendBreak();
        const QRegularExpression lines("^5:0[5689bc]$");
        QVERIFY(loopUntil([&] { return server.commands().contains("5:06"); }));
        QCOMPARE(server.commands().filter(lines).join(' '), "5:08 5:09 5:08 5:0c 5:0b 5:05 5:06");
    }
};

QTEST_MAIN(ScriptedRemotePortTest)
#include "tst_remoteport_scripted.moc"
