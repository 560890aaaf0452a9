// The component against a real pseudo-terminal, opened as "Com1" through
// the per-user link exactly as a user would.
#include "LockFile.h"
#include "PortsConfig.h"
#include "PtyPair.h"
#include "platform/Failure.h"
#include "serial/CustomSpeed.h"
#include "serial/PortLock.h"
#include "serial/SerialCtl.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <termios.h>
#include <time.h>

namespace {

double seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Records every event; takes the data only when asked to.
struct Recorder {
    explicit Recorder(SerialCtl& serial, bool take) : serial(serial) {
        QObject::connect(&serial, &ISerialCtl::OnComm, [this, take] {
            events << QString::number(this->serial.CommEvent());
            if (take && this->serial.CommEvent() == CommReceive)
                reads << this->serial.Input();
        });
        QObject::connect(&serial, &ISerialCtl::PortClosed, [this] { events << "closed"; });
        QObject::connect(&serial, &ISerialCtl::DeviceLost,
                         [this](const QString&) { events << "lost"; });
    }
    QByteArray received() const { return reads.join(); }
    SerialCtl& serial;
    QStringList events;
    QList<QByteArray> reads;
};

// Reads from the device side while the component's event loop runs.
QByteArray readFromLine(PtyPair& pty, int count) {
    QByteArray got;
    QDeadlineTimer deadline(10000);
    while (got.size() < count && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        got += pty.read(count - int(got.size()), 10);
    }
    return got;
}

} // namespace

class PtySerialTest : public QObject {
    Q_OBJECT
private:
    PortsConfig m_config;
    void link(int port, const QString& target) { QVERIFY(PortsConfig::pin(port, target)); }

private slots:
    void initTestCase() { QVERIFY(m_config.setUp()); }

    void openAndClose() {
        PtyPair pty;
        link(1, pty.slavePath());
        SerialCtl serial;
        QSignalSpy closed(&serial, &ISerialCtl::PortClosed);
        serial.setPortOpen(true);
        QVERIFY(serial.PortOpen());
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setCommPort(2));
        serial.setPortOpen(false);
        QVERIFY(!serial.PortOpen());
        QCOMPARE(closed.count(), 1);
        serial.setPortOpen(true); // the same slave opens again
        QVERIFY(serial.PortOpen());
    }

    void settingsReachTheLine_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<bool>("whileOpen");
        QTest::addColumn<unsigned>("speed");
        QTest::addColumn<bool>("twoStopBits");
        QTest::addColumn<bool>("xonXoff");
        QTest::newRow("standard speed at open") << "9600,n,8,1" << false << 9600u << false << false;
        QTest::newRow("56000 has no constant")
            << "56000,n,8,1" << false << 56000u << false << false;
        QTest::newRow("128000 and two stop bits, open port")
            << "128000,N,8,2" << true << 128000u << true << false;
        QTest::newRow("Xon/Xoff on an open port")
            << "115200,n,8,1" << true << 115200u << false << true;
    }
    void settingsReachTheLine() {
        QFETCH(QString, settings);
        QFETCH(bool, whileOpen);
        QFETCH(unsigned, speed);
        QFETCH(bool, twoStopBits);
        QFETCH(bool, xonXoff);
        PtyPair pty;
        link(1, pty.slavePath());
        SerialCtl serial;
        if (whileOpen)
            serial.setPortOpen(true);
        serial.setSettings(settings);
        serial.setHandshaking(xonXoff ? 1 : 0);
        if (!whileOpen)
            serial.setPortOpen(true);
        QCOMPARE(serial.Settings(), settings.toLower());
        // The master reports the slave's settings.
        termios t{};
        QCOMPARE(tcgetattr(pty.masterFd(), &t), 0);
        unsigned in = 0, out = 0;
        QCOMPARE(readActualSpeed(pty.masterFd(), &in, &out), 0);
        QCOMPARE(out, speed);
        QCOMPARE(bool(t.c_cflag & CSTOPB), twoStopBits);
        QCOMPARE(bool(t.c_iflag & IXON), xonXoff);
        QVERIFY(!(t.c_lflag & ICANON));
        QVERIFY(!(t.c_iflag & (INPCK | PARMRK))); // a pty has no line errors to mark
    }

    void bytesRoundTripInOrder() {
        PtyPair pty;
        link(1, pty.slavePath());
        SerialCtl serial;
        serial.setCodePage("UTF-8");
        Recorder recorder(serial, true);
        serial.setPortOpen(true);
        serial.setOutput(QStringLiteral("AT\r"));
        serial.setOutput(QStringLiteral("ATI\r"));
        QCOMPARE(readFromLine(pty, 7), QByteArray("AT\rATI\r"));
        // Every byte value, FF included, in order.
        QByteArray all;
        for (int round = 0; round < 8; ++round)
            for (int value = 0; value < 256; ++value)
                all.append(char(value));
        QVERIFY(pty.write(all));
        QTRY_COMPARE(recorder.received().size(), all.size());
        QCOMPARE(recorder.received(), all);
    }

    void inputLenLimitsEachRead() {
        PtyPair pty;
        link(1, pty.slavePath());
        SerialCtl serial;
        serial.setInputLen(3);
        Recorder recorder(serial, true);
        serial.setPortOpen(true);
        QVERIFY(pty.write("ABCDEFGH"));
        // The rest is announced again without the line sending more.
        QTRY_COMPARE(recorder.received(), QByteArray("ABCDEFGH"));
        QCOMPARE(recorder.reads.first(), QByteArray("ABC"));
        for (const QByteArray& read : recorder.reads)
            QVERIFY(read.size() <= 3);
    }

    void zeroThresholdRaisesNoReceiveEvent() {
        PtyPair pty;
        link(1, pty.slavePath());
        SerialCtl serial;
        serial.setRThreshold(0);
        Recorder recorder(serial, true);
        serial.setPortOpen(true);
        QVERIFY(pty.write("quiet"));
        QByteArray got;
        QTRY_VERIFY((got += serial.Input()) == "quiet");
        QVERIFY(recorder.events.isEmpty());
    }

    void outputDrains() {
        PtyPair pty;
        link(1, pty.slavePath());
        SerialCtl serial;
        serial.setPortOpen(true);
        const QString text(60000, QLatin1Char('x'));
        serial.setOutput(text);
        QVERIFY(serial.OutBufferCount() > 0);
        QCOMPARE(readFromLine(pty, int(text.size())), text.toLatin1());
        QTRY_COMPARE(serial.OutBufferCount(), qint16(0));
    }

    void openFailuresSayWhy() {
        PtyPair pty;
        link(1, pty.slavePath());
        link(2, QStringLiteral("/dev/velmora-no-such-device"));
        SerialCtl missing;
        missing.setCommPort(2);
        try {
            missing.setPortOpen(true);
            QFAIL("a missing device opened");
        } catch (const Failure& failure) {
            QVERIFY2(failure.description().contains("/dev/velmora-no-such-device"),
                     qPrintable(failure.description()));
            QVERIFY(failure.description().contains(QStringLiteral("見つかりません")));
        }
        QVERIFY(!missing.PortOpen());
    }

    void busyPortNamesItsHolder_data() {
        QTest::addColumn<QString>("holder");
        QTest::newRow("flock of another program") << "flock";
        QTest::newRow("another port object of this program") << "self";
        QTest::newRow("UUCP lock file of a live process") << "live lock";
        QTest::newRow("UUCP lock file of a dead process") << "stale lock";
    }
    void busyPortNamesItsHolder() {
        QFETCH(QString, holder);
        PtyPair pty;
        link(1, pty.slavePath());
        QTemporaryDir lockDir;
        const QString lockPath =
            lockDir.filePath(lockFileName(QFileInfo(pty.slavePath()).canonicalFilePath()));
        SerialCtl serial, other;
        serial.setLockDirs({lockDir.path()});
        other.setLockDirs({lockDir.path()});
        QProcess program;
        QString expected;
        if (holder == "flock") {
            // -o: only flock itself keeps the device; it prints once it holds the lock.
            program.start("flock", {"-o", pty.slavePath(), "-c", "echo held; exec sleep 30"});
            QVERIFY(program.waitForReadyRead(10000));
            expected = QStringLiteral("flock (pid %1)").arg(program.processId());
        } else if (holder == "self") {
            other.setPortOpen(true);
            expected = QStringLiteral("(pid %1)").arg(QCoreApplication::applicationPid());
        } else {
            const qint64 pid = writeLockFile(lockPath, holder == "live lock", program);
            QVERIFY(pid > 0);
            if (holder == "live lock")
                expected = QStringLiteral("%1 が sleep (pid %2)").arg(lockPath).arg(pid);
        }
        try {
            serial.setPortOpen(true);
            QVERIFY2(expected.isEmpty(), "a held device opened");
        } catch (const Failure& failure) {
            QVERIFY2(!expected.isEmpty(), qPrintable(failure.description()));
            QVERIFY2(failure.description().contains(QStringLiteral("使用中")) &&
                         failure.description().contains(expected) &&
                         failure.description().contains(pty.slavePath()),
                     qPrintable(failure.description()));
            QVERIFY(!serial.PortOpen());
            program.kill();
            program.waitForFinished();
            return;
        }
        // The stale lock is ours while open and gone after closing.
        QFile lock(lockPath);
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll().trimmed().toLongLong(), QCoreApplication::applicationPid());
        serial.setPortOpen(false);
        QVERIFY(!QFile::exists(lockPath));
    }

    void hangUpClosesKeepsBytesAndIdles() {
        PtyPair pty;
        link(1, pty.slavePath());
        SerialCtl serial;
        Recorder recorder(serial, false);
        QSignalSpy lost(&serial, &ISerialCtl::DeviceLost);
        serial.setPortOpen(true);
        QVERIFY(pty.write("last words"));
        QTRY_VERIFY(recorder.events.contains("2"));
        pty.closeMaster();
        QTRY_VERIFY(!serial.PortOpen());
        QCOMPARE(lost.count(), 1);
        QVERIFY(lost.first().first().toString().contains(pty.slavePath()));
        // The loss announces the untaken bytes once more before closing.
        QCOMPARE(recorder.events.join(';'), QStringLiteral("2;2;closed;lost"));
        QCOMPARE(serial.Input(), QByteArray("last words"));

        const double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID);
        const double wall = seconds(CLOCK_MONOTONIC);
        QTest::qWait(500);
        const double cpuUsed = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu;
        const double wallUsed = seconds(CLOCK_MONOTONIC) - wall;
        QVERIFY2(cpuUsed < wallUsed / 4, qPrintable(QString::number(cpuUsed / wallUsed)));
        QCOMPARE(lost.count(), 1);
    }

    // Nobody takes the data (RThreshold 0): the receive buffer fills, the
    // reader pauses, and the hang-up is still seen.
    void hangUpSeenWhileReadingIsPaused() {
        PtyPair pty;
        link(1, pty.slavePath());
        SerialCtl serial;
        serial.setRThreshold(0);
        Recorder recorder(serial, false);
        serial.setPortOpen(true);
        const QByteArray chunk(64 * 1024, 'x');
        QDeadlineTimer deadline(30000);
        while (!recorder.events.contains("1008") && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            pty.write(chunk, 100);
        }
        QVERIFY(recorder.events.contains("1008"));
        // Until the line takes no more: the reader's queue is full too.
        while (pty.write(QByteArray(4096, 'y'), 200) && !deadline.hasExpired()) {
        }
        pty.closeMaster();
        QTRY_VERIFY(!serial.PortOpen());
        QCOMPARE(recorder.events.filter("lost").size(), 1);
    }

    void reconnectUnlessTheUserActs_data() {
        QTest::addColumn<QString>("act");
        QTest::addColumn<bool>("reconnects");
        QTest::addColumn<bool>("openAfter");
        QTest::newRow("nothing: the same settings on the new line") << "" << true << true;
        QTest::newRow("the user closes") << "close" << false << false;
        QTest::newRow("the user picks another port") << "port" << false << false;
        QTest::newRow("the user opens") << "open" << false << true;
    }
    void reconnectUnlessTheUserActs() {
        QFETCH(QString, act);
        QFETCH(bool, reconnects);
        QFETCH(bool, openAfter);
        auto pty = std::make_unique<PtyPair>();
        link(1, pty->slavePath());
        SerialCtl serial;
        serial.setSettings("57600,n,8,2");
        serial.setHandshaking(1);
        Recorder recorder(serial, true);
        QSignalSpy reconnected(&serial, &ISerialCtl::Reconnected);
        serial.setPortOpen(true);
        pty->closeMaster();
        QTRY_VERIFY(recorder.events.contains("lost"));
        QVERIFY(serial.waitingForDevice());
        if (act == "close")
            serial.setPortOpen(false);
        else if (act == "port")
            serial.setCommPort(2);
        QCOMPARE(serial.waitingForDevice(), act.isEmpty() || act == "open");

        // A new pty at the same link, as a simulator started again makes it.
        pty = std::make_unique<PtyPair>();
        link(1, pty->slavePath());
        if (act == "open")
            serial.setPortOpen(true);
        // Once the wait has ended nothing looks any more (tst_serial_helpers).
        if (reconnects)
            QTRY_COMPARE_WITH_TIMEOUT(reconnected.count(), 1, 10000);
        QCOMPARE(reconnected.count(), int(reconnects));
        QCOMPARE(serial.PortOpen(), openAfter);
        QVERIFY(!serial.waitingForDevice());
        if (!reconnects)
            return;
        QVERIFY(reconnected.first().first().toString().contains(pty->slavePath()));
        termios t{};
        QCOMPARE(tcgetattr(pty->masterFd(), &t), 0);
        unsigned in = 0, out = 0;
        QCOMPARE(readActualSpeed(pty->masterFd(), &in, &out), 0);
        QCOMPARE(out, 57600u);
        QVERIFY(t.c_cflag & CSTOPB);
        QVERIFY(t.c_iflag & IXON);
        QVERIFY(pty->write("again"));
        QTRY_COMPARE(recorder.received(), QByteArray("again"));
    }
};

QTEST_GUILESS_MAIN(PtySerialTest)
#include "tst_serialctl_pty.moc"
