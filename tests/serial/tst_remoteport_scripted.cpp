// Com5 pinned to a scripted RFC 2217 server, for what ser2net serving a
// pty cannot do: modem and line notifications, flow control suspend,
// answers that never come or tell another value, bytes cut anywhere.
#include "FakeComPortServer.h"
#include "Waiting.h"
#include "serial/SerialCtl.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

namespace {

QByteArray notify(int code, int bits) {
    return QByteArray("\xff\xfa\x2c", 3) + char(code) + char(bits) + QByteArray("\xff\xf0", 2);
}

} // namespace

class ScriptedRemotePortTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_config;
    // Com5 of a new component leads to `server`.
    void pin(SerialCtl& serial, const FakeComPortServer& server) {
        const QString path = m_config.path() + QStringLiteral("/velmora/ports/com5");
        QFile::remove(path);
        QVERIFY(QFile::link(server.url(), path));
        serial.setCommPort(5);
    }

private slots:
    void initTestCase() {
        QVERIFY(QDir().mkpath(m_config.path() + "/velmora/ports"));
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
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
