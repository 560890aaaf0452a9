#include "platform/SettingsStore.h"
#include "sending/HexInput.h"
#include "sending/Pacing.h"

#include <QtTest>

class tst_pacing : public QObject {
    Q_OBJECT
private slots:
    void plan_data();
    void plan();
    void hex_data();
    void hex();
    void storedValues();
};

// The plan written out as pieces, each followed by its wait: "AT\r|20e".
// "e" marks a wait for the echo.
static QString planText(const QByteArray& data, const Pacing& pacing, qsizetype maxChunk) {
    QStringList pieces;
    for (qsizetype pos = 0; pos < data.size();) {
        const SendStep step = planStep(data, pos, pacing, maxChunk);
        QString piece = QString::fromLatin1(data.mid(pos, step.length).toPercentEncoding());
        if (step.paced())
            piece += QLatin1Char('|') + QString::number(step.delayMs) +
                     (step.awaitEcho ? QStringLiteral("e") : QString());
        pieces << piece;
        pos += step.length;
    }
    return pieces.join(QLatin1Char(' '));
}

void tst_pacing::plan_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("charDelay");
    QTest::addColumn<int>("lineDelay");
    QTest::addColumn<int>("echoTimeout"); // wait for the echo when above 0
    QTest::addColumn<int>("maxChunk");
    QTest::addColumn<QString>("expected");

    const QByteArray mixed("a\r\nb\rc\nd\n\re\r");
    QTest::newRow("all zero: chunks only")
        << mixed << 0 << 0 << 0 << 5 << "a%0D%0Ab%0D c%0Ad%0A%0D e%0D";
    QTest::newRow("line ends: LF, lone CR, CR at the end; not CR before LF")
        << mixed << 0 << 20 << 0 << 64 << "a%0D%0A|20 b%0D|20 c%0A|20 d%0A|20 %0D|20 e%0D|20";
    QTest::newRow("long line cut by the chunk size waits only at its end")
        << QByteArray("abcdefg\n") << 0 << 5 << 0 << 3 << "abc def g%0A|5";
    QTest::newRow("characters: every byte, line ends add the line delay")
        << QByteArray("a\r\n") << 2 << 10 << 0 << 64 << "a|2 %0D|2 %0A|12";
    QTest::newRow("echo wait alone paces lines")
        << QByteArray("AT\rX") << 0 << 0 << 100 << 64 << "AT%0D|0e X";
    QTest::newRow("character delay without line delay has no line wait")
        << QByteArray("\n\n") << 1 << 0 << 0 << 64 << "%0A|1 %0A|1";
}

void tst_pacing::plan() {
    QFETCH(QByteArray, data);
    QFETCH(int, charDelay);
    QFETCH(int, lineDelay);
    QFETCH(int, echoTimeout);
    QFETCH(int, maxChunk);
    QFETCH(QString, expected);
    Pacing pacing;
    pacing.charDelayMs = charDelay;
    pacing.lineDelayMs = lineDelay;
    pacing.waitEcho = echoTimeout > 0;
    pacing.echoTimeoutMs = echoTimeout;
    QCOMPARE(planText(data, pacing, maxChunk), expected);
}

void tst_pacing::hex_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes"); // empty: refused
    QTest::addColumn<int>("badPosition");

    QTest::newRow("pairs with blanks") << "0d 0a" << QByteArray("\r\n") << 0;
    QTest::newRow("pairs run together, upper case") << "0D0A" << QByteArray("\r\n") << 0;
    QTest::newRow("mixed, tabs and outer blanks") << " 41\t540d " << QByteArray("AT\r") << 0;
    QTest::newRow("every bit") << "00 ff 80" << QByteArray("\x00\xff\x80", 3) << 0;
    QTest::newRow("refused: not a digit") << "41 5g" << QByteArray() << 5;
    QTest::newRow("refused: pair split by a blank") << "4 1" << QByteArray() << 2;
    QTest::newRow("refused: odd digit at the end") << "41 5" << QByteArray() << 5;
    QTest::newRow("refused: prefix") << "0x41" << QByteArray() << 2;
    QTest::newRow("refused: full-width digit") << "４１" << QByteArray() << 1;
    QTest::newRow("refused: nothing to send") << "  " << QByteArray() << 0;
}

void tst_pacing::hex() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(int, badPosition);
    const HexInput parsed = parseHexInput(text);
    QCOMPARE(parsed.ok, !bytes.isEmpty());
    QCOMPARE(parsed.bytes, parsed.ok ? bytes : parsed.bytes);
    QCOMPARE(parsed.badPosition, badPosition);
    if (!parsed.ok) {
        QVERIFY(!parsed.error.isEmpty());
        if (badPosition > 0)
            QVERIFY(
                parsed.error.startsWith(QString::number(badPosition) + QStringLiteral(" 文字目")));
    }
}

// Saved values come back; missing and broken ones are off, out of range is clipped.
void tst_pacing::storedValues() {
    MemorySettingsStore store;
    QCOMPARE(loadPacing(store), Pacing());
    Pacing p;
    p.charDelayMs = 3;
    p.lineDelayMs = 250;
    p.waitEcho = true;
    p.echoTimeoutMs = 900;
    QString error;
    QVERIFY(savePacing(store, p, &error));
    QCOMPARE(loadPacing(store), p);
    store.values[QStringLiteral("Velmora/Sending/CharDelay")] = QStringLiteral("x");
    store.values[QStringLiteral("Velmora/Sending/LineDelay")] = QStringLiteral("99999");
    const Pacing back = loadPacing(store);
    QCOMPARE(back.charDelayMs, 0);
    QCOMPARE(back.lineDelayMs, Pacing::maxLineDelayMs);
}

QTEST_APPLESS_MAIN(tst_pacing)
#include "tst_pacing.moc"
