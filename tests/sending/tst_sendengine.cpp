#include "platform/Clock.h"
#include "platform/Failure.h"
#include "sending/SendEngine.h"

#include <QtTest>

namespace {

// A port whose queue leaves only when the test says.
struct QueuePort : SendPort {
    const ManualClock* clock = nullptr;
    QByteArray queue, line;
    QStringList writes; // "<ms>:<bytes>"
    int discards = 0;
    bool refuse = false;
    bool instant = false; // the line takes every byte at once
    void write(const QByteArray& bytes) override {
        if (refuse)
            throw Failure(QStringLiteral("refused"));
        writes << QString::number(clock->now) + QLatin1Char(':') +
                      QString::fromLatin1(bytes.toPercentEncoding());
        (instant ? line : queue) += bytes;
    }
    int pending() const override { return int(queue.size()); }
    void discard() override {
        ++discards;
        queue.clear();
    }
    void drain(qsizetype n) {
        line += queue.left(n);
        queue.remove(0, std::min(n, queue.size()));
    }
};

Pacing pacing(int charDelay, int lineDelay, int echoTimeout) {
    Pacing p;
    p.charDelayMs = charDelay;
    p.lineDelayMs = lineDelay;
    p.waitEcho = echoTimeout > 0;
    p.echoTimeoutMs = echoTimeout;
    return p;
}

} // namespace

class tst_sendengine : public QObject {
    Q_OBJECT
private slots:
    void timeline_data();
    void timeline();
    void heldBackByFlowControl();
    void ends_data();
    void ends();
};

// The line takes the bytes at once; the far end echoes everything sent so far at `echoAt`.
void tst_sendengine::timeline_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<Pacing>("pacing");
    QTest::addColumn<int>("echoAt");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no pacing: one write")
        << QByteArray("a\r\nb\r") << pacing(0, 0, 0) << -1 << "0:a%0D%0Ab%0D";
    QTest::newRow("character and line delays from when the byte left")
        << QByteArray("a\nb") << pacing(2, 10, 0) << -1 << "0:a 2:%0A 14:b";
    QTest::newRow("line delay at LF and at a lone CR, not inside CR LF")
        << QByteArray("x\r\ny\rz") << pacing(0, 7, 0) << -1 << "0:x%0D%0A 7:y%0D 14:z";
    QTest::newRow("echo back early: next line at once")
        << QByteArray("A\rB\r") << pacing(0, 0, 50) << 5 << "0:A%0D 5:B%0D";
    QTest::newRow("no echo: next line at the timeout")
        << QByteArray("A\rB\r") << pacing(0, 0, 50) << -1 << "0:A%0D 50:B%0D";
    QTest::newRow("echo before the line delay is over waits for the delay")
        << QByteArray("A\rB") << pacing(0, 30, 50) << 5 << "0:A%0D 30:B";
}

void tst_sendengine::timeline() {
    QFETCH(QByteArray, data);
    QFETCH(Pacing, pacing);
    QFETCH(int, echoAt);
    QFETCH(QString, expected);
    ManualClock clock;
    QueuePort port;
    port.clock = &clock;
    port.instant = true;
    SendEngine engine(clock);
    engine.start(port, data, pacing);
    while (engine.active()) {
        const int wait = engine.run();
        if (echoAt >= 0 && clock.now < echoAt && clock.now + wait >= echoAt) {
            clock.now = echoAt;
            engine.received(port.line);
            continue;
        }
        if (wait > 0)
            clock.advance(wait);
    }
    QCOMPARE(port.writes.join(QLatin1Char(' ')), expected);
    QCOMPARE(port.line, data);
    QCOMPARE(engine.end(), SendEngine::End::Completed);
}

// A device that said stop holds the queue: the send neither piles up output
// nor reads its source ahead, and loses or repeats nothing when the device
// says go.
void tst_sendengine::heldBackByFlowControl() {
    QByteArray data;
    for (int i = 0; i < 100000; ++i)
        data += char(i * 7);
    struct CountingSource : SendSource {
        std::unique_ptr<SendSource> bytes;
        qint64 taken = 0;
        qint64 size() const override { return bytes->size(); }
        QByteArray read(qint64 max) override {
            const QByteArray piece = bytes->read(max);
            taken += piece.size();
            return piece;
        }
    };
    auto source = std::make_unique<CountingSource>();
    source->bytes = bytesSource(data);
    const CountingSource& counted = *source;
    ManualClock clock;
    QueuePort port;
    port.clock = &clock;
    SendEngine engine(clock);
    engine.start(port, std::move(source), Pacing());
    for (int i = 0; i < 100; ++i)
        QCOMPARE(engine.run(), SendEngine::pollMs);
    QVERIFY(port.queue.size() < SendEngine::lowWater + SendEngine::chunk);
    QVERIFY(counted.taken <= port.queue.size() + 2 * SendEngine::chunk);
    while (engine.run() >= 0)
        port.drain(1000);
    QCOMPARE(port.line, data);
}

void tst_sendengine::ends_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("discards");
    QTest::addColumn<int>("sent"); // -1: all that reached the line

    QTest::newRow("stopped: the queue is dropped")
        << "stop" << int(SendEngine::End::Stopped) << 1 << 3500;
    QTest::newRow("port closed: as last seen")
        << "close" << int(SendEngine::End::Closed) << 0 << 3000;
    QTest::newRow("write refused") << "refuse" << int(SendEngine::End::Failed) << 0 << -1;
}

// Mid-send endings: nothing is written after, and the count is what had left.
void tst_sendengine::ends() {
    QFETCH(QString, how);
    QFETCH(int, end);
    QFETCH(int, discards);
    QFETCH(int, sent);
    ManualClock clock;
    QueuePort port;
    port.clock = &clock;
    SendEngine engine(clock);
    engine.start(port, QByteArray(50000, 'x'), Pacing());
    engine.run();
    port.drain(3000);
    engine.run();
    port.drain(500);
    if (how == QLatin1String("stop"))
        engine.stop();
    else if (how == QLatin1String("close"))
        engine.portClosed();
    port.refuse = how == QLatin1String("refuse");
    port.drain(port.queue.size());
    const int writes = int(port.writes.size());
    QCOMPARE(engine.run(), -1);
    QCOMPARE(int(engine.end()), end);
    QCOMPARE(port.discards, discards);
    QCOMPARE(port.writes.size(), writes);
    QCOMPARE(engine.sent(), sent < 0 ? port.line.size() : sent);
}

QTEST_APPLESS_MAIN(tst_sendengine)
#include "tst_sendengine.moc"
