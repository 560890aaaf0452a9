// The component against a scripted driver: line errors, modem lines,
// counters, partial writes and settings a driver does not take.
#include "FakeSerialBackend.h"
#include "Waiting.h"
#include "platform/Failure.h"
#include "serial/SerialCtl.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/resource.h>
#include <unistd.h>

class FakeSerialTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_config;
    FakeSerialBackend* m_line = nullptr;
    std::unique_ptr<SerialCtl> m_serial;
    QStringList m_events;

    // A fresh component on a fresh fake line, port closed.
    SerialCtl& fresh() {
        auto backend = std::make_unique<FakeSerialBackend>();
        m_line = backend.get();
        m_serial = std::make_unique<SerialCtl>(std::move(backend));
        m_serial->setCodePage("UTF-8");
        m_events.clear();
        connect(m_serial.get(), &ISerialCtl::OnComm, this,
                [this] { m_events << QString::number(m_serial->CommEvent()); });
        return *m_serial;
    }
    SerialCtl& opened() {
        SerialCtl& serial = fresh();
        serial.setPortOpen(true);
        return serial;
    }
    QString events() {
        QCoreApplication::processEvents();
        return m_events.join(';');
    }

private slots:
    void initTestCase() {
        QVERIFY(QDir().mkpath(m_config.path() + "/velmora/ports"));
        QVERIFY(QFile::link("/dev/fake-line", m_config.path() + "/velmora/ports/com1"));
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }

    void receivedBytesAreUnstuffed_data() {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("replace");
        QTest::addColumn<int>("parityCount"); // counter delta; -1 no counters
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("expectedEvents");
        using L = QList<QByteArray>;
        QTest::newRow("doubled FF is one FF") << L{"A\xff\xff"
                                                   "B"}
                                              << "9600,n,8,1"
                                              << "?" << -1
                                              << QByteArray("A\xff"
                                                            "B")
                                              << "2";
        QTest::newRow("doubled FF split across reads") << L{"A\xff", "\xff"
                                                                     "B"}
                                                       << "9600,n,8,1"
                                                       << "?" << -1
                                                       << QByteArray("A\xff"
                                                                     "B")
                                                       << "2;2";
        QTest::newRow("marked byte replaced, framing without parity")
            << L{QByteArray("A\xff\x00"
                            "xC",
                            5)}
            << "9600,n,8,1"
            << "?" << -1 << QByteArray("A?C") << "1004;2";
        QTest::newRow("marked byte is a parity error with parity on")
            << L{QByteArray("A\xff\x00"
                            "xC",
                            5)}
            << "9600,e,8,1"
            << "?" << -1 << QByteArray("A?C") << "1009;2";
        QTest::newRow("marked byte kept as received when no replacement")
            << L{QByteArray("A\xff\x00"
                            "xC",
                            5)}
            << "9600,n,8,1"
            << "" << -1 << QByteArray("AxC") << "1004;2";
        QTest::newRow("replacement is its first character, a surrogate pair whole")
            << L{QByteArray("A\xff\x00"
                            "xC",
                            5)}
            << "9600,n,8,1" << QString::fromUtf8("\xf0\x9f\x98\x80Z") << -1
            << QByteArray("A\xf0\x9f\x98\x80"
                          "C")
            << "1004;2";
        QTest::newRow("mark split after FF 00")
            << L{QByteArray("A\xff\x00", 3), "xC"} << "9600,n,8,1"
            << "#" << -1 << QByteArray("A#C") << "2;1004;2";
        QTest::newRow("long plain run after a split mark")
            << L{QByteArray("A\xff\x00", 3), "xCDEFG"} << "9600,n,8,1"
            << "#" << -1 << QByteArray("A#CDEFG") << "2;1004;2";
        QTest::newRow("long plain run after a split FF") << L{"A\xff", "\xff"
                                                                       "BCDEF"}
                                                         << "9600,n,8,1"
                                                         << "?" << -1
                                                         << QByteArray("A\xff"
                                                                       "BCDEF")
                                                         << "2;2";
        QTest::newRow("counters say parity although parity is off")
            << L{QByteArray("\xff\x00"
                            "x",
                            3)}
            << "9600,n,8,1"
            << "?" << 1 << QByteArray("?") << "1009;2";
        QTest::newRow("counters without a parity count mean framing")
            << L{QByteArray("\xff\x00"
                            "x",
                            3)}
            << "9600,e,8,1"
            << "?" << 0 << QByteArray("?") << "1004;2";
        QTest::newRow("break gives 1001 and no data")
            << L{QByteArray("\xff\x00\x00", 3)} << "9600,n,8,1"
            << "?" << -1 << QByteArray() << "1001";
        QTest::newRow("end-of-file byte is kept and announced") << L{"A\x1a"
                                                                     "B"}
                                                                << "9600,n,8,1"
                                                                << "?" << -1
                                                                << QByteArray("A\x1a"
                                                                              "B")
                                                                << "7;2";
    }
    void receivedBytesAreUnstuffed() {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QString, settings);
        QFETCH(QString, replace);
        QFETCH(int, parityCount);
        QFETCH(QByteArray, expected);
        QFETCH(QString, expectedEvents);
        SerialCtl& serial = fresh();
        serial.setSettings(settings);
        serial.setParityReplace(replace);
        m_line->hasCounters = parityCount >= 0;
        serial.setPortOpen(true);
        QByteArray got;
        for (const QByteArray& chunk : chunks) {
            m_line->counterValues.parity += std::max(parityCount, 0);
            m_line->counterValues.frame += parityCount == 0 ? 1 : 0;
            m_line->feed(chunk);
            QTRY_VERIFY(m_line->drained());
            QCoreApplication::processEvents();
            got += serial.Input();
        }
        loopUntil([&] {
            got += serial.Input();
            return got.size() >= expected.size();
        });
        QCOMPARE(got, expected);
        QCOMPARE(events(), expectedEvents);
    }

    void fullReceiveBufferPausesReading() {
        SerialCtl& serial = opened();
        serial.setRThreshold(0);
        const QByteArray block(64 * 1024, 'r');
        for (int i = 0; i < 17; ++i)
            m_line->feed(block);
        QTRY_VERIFY(m_events.contains("1008"));
        QByteArray all = serial.Input();
        QCOMPARE(all.size(), SerialCtl::receiveLimit); // the rest waited, not dropped
        // The rest comes over in shares, each in a pass of its own.
        loopUntil([&] {
            all += serial.Input();
            return all.size() >= 17 * block.size();
        });
        QCOMPARE(all.size(), 17 * block.size());
    }

    // A display slower than the line takes one share per pass of the event
    // loop: a timer runs between any two, however much waits.
    void timersRunBetweenShares() {
        SerialCtl& serial = opened();
        serial.setRThreshold(1);
        QString order;
        qsizetype received = 0;
        connect(&serial, &ISerialCtl::OnComm, this, [&] {
            const qsizetype got = serial.CommEvent() == CommReceive ? serial.Input().size() : 0;
            if (got == 0)
                return;
            received += got;
            order += 's';
            QThread::msleep(1); // the line gets ahead
        });
        QTimer tick;
        tick.setInterval(0);
        connect(&tick, &QTimer::timeout, this, [&] { order += 't'; });
        tick.start();
        const QByteArray block(16 * 1024, 'f');
        for (int i = 0; i < 64; ++i)
            m_line->feed(block);
        QTRY_COMPARE(received, 64 * block.size());
        QVERIFY(order.count('s') > 8);
        QVERIFY2(!order.contains(QStringLiteral("ss")), qPrintable(order));
    }

    // A handler that shows a modal box runs a nested event loop; the line
    // keeps being served inside it, so data still reaches the screen.
    // No descriptor left for the reader's wake-up: the open fails and
    // nothing waits for a byte to close.
    void fullDescriptorTableFailsTheOpen() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        // The sanitizers' runtime opens descriptors of its own to check
        // memory, and reports a false fault when the table is full.
        QSKIP("needs a build without sanitizers");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
        QSKIP("needs a build without sanitizers");
#endif
#endif
        SerialCtl& serial = fresh();
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &limit), 0);
        const rlimit saved = limit;
        QList<int> taken;
        limit.rlim_cur = rlim_t(dup(0) + 1);
        close(int(limit.rlim_cur) - 1);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &limit), 0);
        for (int fd; (fd = dup(0)) >= 0;)
            taken << fd;
        QString failed;
        try {
            serial.setPortOpen(true);
        } catch (const Failure& failure) {
            failed = failure.description();
        }
        for (const int fd : taken)
            close(fd);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &saved), 0);
        QVERIFY2(failed.contains(describeErrno(EMFILE)), qPrintable(failed));
        QVERIFY(!serial.PortOpen());
        serial.setPortOpen(true);
        QVERIFY(serial.PortOpen());
    }

    // Polled without events, what the program left unread goes at close.
    void zeroThresholdDropsWhatIsLeftAtClose() {
        SerialCtl& serial = fresh();
        serial.setRThreshold(0);
        serial.setPortOpen(true);
        m_line->feed("left");
        QTRY_VERIFY(m_line->drained());
        serial.setPortOpen(false);
        serial.setRThreshold(1);
        QCOMPARE(events(), QString());
        QCOMPARE(serial.Input(), QByteArray());
    }

    void eventsArriveWhileAHandlerShowsABox() {
        SerialCtl& serial = opened();
        QByteArray seenInsideBox;
        bool boxShown = false;
        connect(&serial, &ISerialCtl::OnComm, this, [&] {
            if (serial.CommEvent() == CommReceive) {
                const QByteArray data = serial.Input();
                if (boxShown)
                    seenInsideBox += data;
                return;
            }
            if (serial.CommEvent() != CommErrorFraming || boxShown)
                return;
            boxShown = true;
            m_line->feed("hello");
            QEventLoop box;
            QTimer::singleShot(5000, &box, &QEventLoop::quit);
            QTimer poll;
            connect(&poll, &QTimer::timeout, &box, [&] {
                if (seenInsideBox.endsWith("hello"))
                    box.quit();
            });
            poll.start(5);
            box.exec();
        });
        m_line->feed(QByteArray("\xff\x00x", 3));
        QTRY_VERIFY(boxShown);
        // The replaced byte comes first, then what arrived during the box.
        QTRY_COMPARE(seenInsideBox, QByteArray("?hello"));
        QVERIFY(m_events.indexOf("2") > m_events.indexOf("1004"));
    }

    void modemLinesAndCounters() {
        SerialCtl& serial = fresh();
        m_line->hasModemLines = true;
        m_line->hasCounters = true;
        serial.setDTREnable(false);
        serial.setPortOpen(true);
        QVERIFY(m_line->calls.contains("dtr 0"));
        QVERIFY(!serial.CTSHolding());
        m_line->lines |= LineCTS;
        QTRY_COMPARE(events(), QStringLiteral("3"));
        QVERIFY(serial.CTSHolding());
        m_line->lines |= LineDSR | LineCD;
        QTRY_COMPARE(events(), QStringLiteral("3;4;5"));
        QVERIFY(serial.DSRHolding());
        m_line->counterValues.rng += 2; // a ring pulse shorter than a poll
        m_line->counterValues.overrun += 1;
        QTRY_COMPARE(events(), QStringLiteral("3;4;5;6;1006"));
        serial.setPortOpen(false);
        QVERIFY(!serial.CTSHolding());
    }

    void sendQueueSurvivesPartialWritesAndRefusesOverflow() {
        SerialCtl& serial = opened();
        serial.setSThreshold(1);
        m_line->acceptPerWrite = 3;
        m_line->acceptTotal = 10;
        serial.setOutput(QStringLiteral("0123456789ABCDEF"));
        QTRY_COMPARE(m_line->written, QByteArray("0123456789"));
        QCOMPARE(serial.OutBufferCount(), qint16(6));
        const QString tooMuch(SerialCtl::sendLimit, QLatin1Char('z'));
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setOutput(tooMuch));
        QTRY_COMPARE(events(), QStringLiteral("1010"));
        m_line->acceptTotal = -1;
        serial.setOutput(QStringLiteral("!")); // wakes the writer
        QTRY_COMPARE(m_line->written, QByteArray("0123456789ABCDEF!"));
        QCOMPARE(serial.OutBufferCount(), qint16(0));
        QCOMPARE(events(), QStringLiteral("1010;1"));
    }

    void outputOnClosedPortFails() {
        SerialCtl& serial = fresh();
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setOutput(QStringLiteral("x")));
    }

    void driverKeepingOtherSettingsIsRefused_data() {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("runs");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::newRow("PC UART's divisor for 56000, 2.9% off") << 56000 << 57600 << "57600,n,8,1";
        QTest::newRow("fallback to 9600") << 128000 << 9600 << "9600,n,8,1";
        QTest::newRow("1.8% off is accepted") << 56000 << 57000 << "";
    }
    void driverKeepingOtherSettingsIsRefused() {
        QFETCH(int, requested);
        QFETCH(int, runs);
        QFETCH(QString, refusal);
        SerialCtl& serial = opened();
        m_line->driver = [&](LineConfig wanted) {
            if (wanted.speed == requested)
                wanted.speed = runs;
            return wanted;
        };
        const QString wanted = QStringLiteral("%1,n,8,1").arg(requested);
        try {
            serial.setSettings(wanted);
            QVERIFY2(refusal.isEmpty(), "a speed the driver did not take was accepted");
            QCOMPARE(serial.Settings(), wanted); // the request, not the rate made of it
        } catch (const Failure& failure) {
            QVERIFY2(!refusal.isEmpty(), qPrintable(failure.description()));
            QVERIFY2(failure.description().contains("実際の設定: " + refusal),
                     qPrintable(failure.description()));
            QCOMPARE(serial.Settings(), QStringLiteral("9600,n,8,1"));
            QCOMPARE(m_line->config.speed, 9600); // put back
        }
    }

    // A set that fails on an open port keeps the old value, on the line too,
    // and a loss found by the set is reported by its failure alone.
    void failedApplyOnOpenPort_data() {
        QTest::addColumn<int>("applyError");
        QTest::addColumn<int>("readBackError");
        QTest::addColumn<QString>("expected"); // calls | events | open | lost, closed signals
        QTest::newRow("unreadable configuration raises 1011 and restores")
            << 0 << EIO + 1000 << "apply 19200,apply 9600 | 1011 | open | 0,0";
        QTest::newRow("device lost inside the apply")
            << EIO << 0 << "apply 19200,close |  | closed | 0,1";
    }
    void failedApplyOnOpenPort() {
        QFETCH(int, applyError);
        QFETCH(int, readBackError);
        QFETCH(QString, expected);
        SerialCtl& serial = opened();
        QSignalSpy lost(&serial, &ISerialCtl::DeviceLost);
        QSignalSpy closed(&serial, &ISerialCtl::PortClosed);
        m_line->calls.clear();
        m_line->applyError = applyError;
        m_line->readBackError = readBackError;
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setSettings(QStringLiteral("19200,n,8,1")));
        m_line->readBackError = 0;
        QCOMPARE(serial.Settings(), QStringLiteral("9600,n,8,1"));
        QTest::qWait(50);
        const QString seen =
            QStringLiteral("%1 | %2 | %3 | %4,%5")
                .arg(m_line->calls.join(','), events(), serial.PortOpen() ? "open" : "closed")
                .arg(lost.count())
                .arg(closed.count());
        QCOMPARE(seen, expected);
    }

    void hangUpReportsOnce_data() {
        QTest::addColumn<int>("readError");
        QTest::newRow("read gives 0") << 0;
        QTest::newRow("read gives EIO") << EIO;
    }
    void hangUpReportsOnce() {
        QFETCH(int, readError);
        SerialCtl& serial = opened();
        QSignalSpy lost(&serial, &ISerialCtl::DeviceLost);
        QSignalSpy closed(&serial, &ISerialCtl::PortClosed);
        m_line->feed("tail");
        // The reader thread may take the data and the hang-up in one round or
        // two; wait for the data so the order is always the same.
        QTRY_COMPARE(events(), QStringLiteral("2"));
        m_line->hangUpError = readError;
        m_line->hangUp();
        QTRY_COMPARE(lost.count(), 1);
        QCOMPARE(closed.count(), 1);
        // The kernel's answer varies from run to run; the message does not.
        QCOMPARE(lost.first().first().toString(),
                 QStringLiteral("Com1 (%1 → /dev/fake-line) との接続が切れました。デバイスが"
                                "取り外されたか、回線が切断されました。"
                                "同じデバイスが戻ると自動的に接続し直します。")
                     .arg(m_config.path() + "/velmora/ports/com1"));
        QVERIFY(!serial.PortOpen());
        QVERIFY(!m_line->opened);
        QCOMPARE(serial.Input(), QByteArray("tail"));
        // The loss announces the untaken bytes once more before closing.
        QCOMPARE(events(), QStringLiteral("2;2"));
    }

    void settingsText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("readBack"); // empty: refused
        QTest::newRow("upper-case parity read back lower") << "9600,E,7,2"
                                                           << "9600,e,7,2";
        QTest::newRow("mark parity") << "256000,m,8,1"
                                     << "256000,m,8,1";
        QTest::newRow("4 data bits accepted as text") << "9600,n,4,1"
                                                      << "9600,n,4,1";
        QTest::newRow("1.5 stop bits accepted as text") << "9600,n,8,1.5"
                                                        << "9600,n,8,1.5";
        QTest::newRow("unknown parity") << "9600,x,8,1"
                                        << "";
        QTest::newRow("nine data bits") << "9600,n,9,1"
                                        << "";
        QTest::newRow("missing field") << "9600,n,8"
                                       << "";
        QTest::newRow("blank inside") << "9600, n,8,1"
                                      << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("zero speed") << "0,n,8,1"
                                    << "";
    }
    void settingsText() {
        QFETCH(QString, text);
        QFETCH(QString, readBack);
        SerialCtl& serial = fresh();
        serial.setSettings(QStringLiteral("2400,o,7,1"));
        if (readBack.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(Failure, serial.setSettings(text));
            QCOMPARE(serial.Settings(), QStringLiteral("2400,o,7,1"));
        } else {
            serial.setSettings(text);
            QCOMPARE(serial.Settings(), readBack);
        }
    }

    void unusableFramingRefusedAtOpenAndOnOpenPort_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("4 data bits") << "9600,n,4,1";
        QTest::newRow("1.5 stop bits with 8 data bits") << "9600,n,8,1.5";
    }
    void unusableFramingRefusedAtOpenAndOnOpenPort() {
        QFETCH(QString, text);
        SerialCtl& serial = fresh();
        serial.setSettings(text);
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setPortOpen(true));
        QVERIFY(!serial.PortOpen());
        QVERIFY(m_line->calls.isEmpty());
        serial.setSettings(QStringLiteral("9600,n,8,1"));
        serial.setPortOpen(true);
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setSettings(text));
        QCOMPARE(serial.Settings(), QStringLiteral("9600,n,8,1"));
        serial.setSettings(QStringLiteral("9600,n,5,1.5")); // the UART's 1.5 stop bits
        QCOMPARE(m_line->config.twoStopBits, true);
    }

    void startingValuesAndRefusedSets() {
        SerialCtl& serial = fresh();
        QCOMPARE(serial.CommPort(), qint16(1));
        QCOMPARE(serial.Settings(), QStringLiteral("9600,n,8,1"));
        QCOMPARE(serial.Handshaking(), 0);
        QCOMPARE(serial.InputLen(), qint16(0));
        QCOMPARE(serial.RThreshold(), qint16(1));
        QCOMPARE(serial.SThreshold(), qint16(0));
        QCOMPARE(serial.ParityReplace(), QStringLiteral("?"));
        QVERIFY(serial.DTREnable());
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setCommPort(0));
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setCommPort(17));
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setHandshaking(4));
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setInputLen(-1));
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setRThreshold(-1));
        QVERIFY_THROWS_EXCEPTION(Failure, serial.setSThreshold(-5));
        QCOMPARE(serial.CommPort(), qint16(1));
        QCOMPARE(serial.RThreshold(), qint16(1));
        serial.setCommPort(16);
        QCOMPARE(serial.CommPort(), qint16(16));
    }
};

QTEST_GUILESS_MAIN(FakeSerialTest)
#include "tst_serialctl_fake.moc"
