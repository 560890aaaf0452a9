// The reader thread against open, flood, close and hang-up, many times over:
// every byte sent before the close arrives once, in order (run it under
// ThreadSanitizer to check the hand-over as well).
#include "PtyPair.h"
#include "serial/SerialCtl.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Runs the event loop until `done` (QTRY would sleep 50 ms a round).
template <typename Done> bool waitFor(Done done) {
    QDeadlineTimer deadline(10000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    return done();
}
} // namespace

class SerialStressTest : public QObject {
    Q_OBJECT
private slots:
    void openFloodClose() {
        QTemporaryDir config;
        QVERIFY(QDir().mkpath(config.path() + "/velmora/ports"));
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        const QString link = config.path() + "/velmora/ports/com1";
        const int rounds = qEnvironmentVariableIntValue("STRESS_ROUNDS") > 0
                               ? qEnvironmentVariableIntValue("STRESS_ROUNDS")
                               : 1000;

        QByteArray pattern;
        for (int i = 0; i < 70000; ++i)
            pattern += char(i * 7 + i / 251);
        SerialCtl serial;
        serial.setCodePage("ISO-8859-1");
        QByteArray received;
        bool lost = false;
        connect(&serial, &ISerialCtl::OnComm, this, [&] {
            if (serial.CommEvent() == CommReceive)
                received += serial.Input();
        });
        connect(&serial, &ISerialCtl::DeviceLost, this, [&] { lost = true; });

        for (int round = 0; round < rounds; ++round) {
            PtyPair pty;
            QFile::remove(link);
            QVERIFY(QFile::link(pty.slavePath(), link));
            received.clear();
            lost = false;
            serial.setPortOpen(true);
            const QByteArray sent = pattern.mid(round % 97, 1 + round * 331 % 60000);
            QVERIFY(pty.write(sent));
            switch (round % 3) {
            case 0: // everything arrives, then the program closes
                QVERIFY(waitFor([&] { return received.size() >= sent.size(); }));
                QCOMPARE(received, sent);
                serial.setPortOpen(false);
                break;
            case 1: // closed while the reader may still be reading
                serial.setPortOpen(false);
                received += serial.Input();
                QVERIFY2(sent.startsWith(received), qPrintable(QString::number(round)));
                break;
            default: { // the device goes away mid-flood
                pty.closeMaster();
                QVERIFY(waitFor([&] { return lost; }));
                received += serial.Input();
                // The kernel drops what its line discipline held when the
                // master closes, while a read already under way still gets a
                // later piece: one hole is allowed, nothing reordered or added.
                qsizetype same = 0;
                while (same < received.size() && same < sent.size() && received[same] == sent[same])
                    ++same;
                const QByteArray after = received.mid(same);
                QVERIFY2(after.isEmpty() || sent.indexOf(after, same + 1) > same,
                         qPrintable(QString::number(round)));
                break;
            }
            }
            QVERIFY(!serial.PortOpen());
        }
    }
};

QTEST_GUILESS_MAIN(SerialStressTest)
#include "tst_serialctl_stress.moc"
