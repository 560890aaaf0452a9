// The connect-time text and the shutdown wait, apart from the window.
#include "ScriptedPrompts.h"
#include "TestSerial.h"

#include "platform/Clock.h"
#include "terminal/ConnectTime.h"
#include "terminal/ShutdownWait.h"

#include <QtTest>

Q_DECLARE_METATYPE(DrainOutcome)

namespace {

constexpr qint64 second = 1000;
constexpr qint64 hour = 3600 * second;

// Output that never drains unless told to; each look at the buffer costs
// `step` on the clock, so the wait's timing is the clock's, not the machine's.
struct StuckLine {
    TestSerial serial;
    ScriptedPrompts prompts;
    ManualClock clock;
    QStringList promptTimes;

    DrainOutcome wait(qint64 step, int drainAfterPumps = -1) {
        serial.setPortOpen(true);
        serial.line.kernelQueue = 7;
        int pumps = 0;
        prompts.whileMessageOpen = [this] { promptTimes << QString::number(clock.now); };
        return waitForOutputToDrain(serial, prompts, clock, [&] {
            clock.advance(step);
            if (++pumps == drainAfterPumps)
                serial.line.kernelQueue = 0;
        });
    }
};

} // namespace

class tst_TerminalLogic : public QObject {
    Q_OBJECT
private slots:
    void connectTime_data();
    void connectTime();
    void wait_data();
    void wait();
    void bufferThatCannotBeReadEndsTheWait();
};

void tst_TerminalLogic::connectTime_data() {
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing yet") << qint64(0) << "00:00:00 ";
    QTest::newRow("first tick") << second << "00:00:01 ";
    QTest::newRow("tick a little early still shows its second") << qint64(996) << "00:00:01 ";
    QTest::newRow("tick a little late") << qint64(1040) << "00:00:01 ";
    QTest::newRow("hours, minutes and seconds")
        << (hour + 2 * 60 * second + 3 * second) << "01:02:03 ";
    QTest::newRow("last second of a day") << (24 * hour - second) << "23:59:59 ";
    QTest::newRow("a whole day wraps to zero") << 24 * hour << "00:00:00 ";
    QTest::newRow("25 hours") << 25 * hour << "01:00:00 ";
    QTest::newRow("many days") << (10 * 24 * hour + 5 * hour + 6 * second) << "05:00:06 ";
}

void tst_TerminalLogic::connectTime() {
    QFETCH(qint64, elapsed);
    QFETCH(QString, text);
    QCOMPARE(formatConnectTime(elapsed), text);
}

void tst_TerminalLogic::wait_data() {
    QTest::addColumn<qint64>("start");
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<int>("drainAfterPumps");
    QTest::addColumn<DrainOutcome>("expected");
    QTest::addColumn<QString>("promptTimes");
    // Each pump moves the clock 500 ms; the prompt comes at the first look past
    // ten seconds from the start, rounded to a whole second.
    QTest::newRow("drains before the deadline: no prompt")
        << qint64(0) << QList<int>{} << 5 << DrainOutcome::Drained << "";
    QTest::newRow("abort") << qint64(0) << QList<int>{AnswerAbort} << -1 << DrainOutcome::Abort
                           << "10500";
    QTest::newRow("deadline rounds down below half a second")
        << qint64(400) << QList<int>{AnswerIgnore} << -1 << DrainOutcome::Ignore << "10400";
    QTest::newRow("deadline rounds up from half a second")
        << qint64(600) << QList<int>{AnswerIgnore} << -1 << DrainOutcome::Ignore << "11100";
    QTest::newRow("long after the clock's origin") << (24 * hour - 400) << QList<int>{AnswerIgnore}
                                                   << -1 << DrainOutcome::Ignore << "86410100";
    QTest::newRow("each retry waits ten more seconds from the answer")
        << qint64(0) << QList<int>{AnswerRetry, AnswerRetry, AnswerIgnore} << -1
        << DrainOutcome::Ignore << "10500,21500,32500";
    QTest::newRow("drains after a retry")
        << qint64(0) << QList<int>{AnswerRetry} << 25 << DrainOutcome::Drained << "10500";
}

void tst_TerminalLogic::wait() {
    QFETCH(qint64, start);
    QFETCH(QList<int>, answers);
    QFETCH(int, drainAfterPumps);
    QFETCH(DrainOutcome, expected);
    QFETCH(QString, promptTimes);
    StuckLine line;
    line.clock.now = start;
    line.prompts.messageAnswers = answers;
    QCOMPARE(line.wait(500, drainAfterPumps), expected);
    QCOMPARE(line.promptTimes.join(QLatin1Char(',')), promptTimes);
    for (const QString& asked : line.prompts.log)
        QCOMPARE(asked, "msg|Velmora|ﾃﾞｰﾀが送信できません。|AbortRetryIgnore|question|0");
}

void tst_TerminalLogic::bufferThatCannotBeReadEndsTheWait() {
    StuckLine line;
    line.serial.failOn << QStringLiteral("OutBufferCount");
    QCOMPARE(line.wait(500), DrainOutcome::Drained);
    QCOMPARE(line.prompts.messageCount(), 0);
}

QTEST_GUILESS_MAIN(tst_TerminalLogic)
#include "tst_terminallogic.moc"
