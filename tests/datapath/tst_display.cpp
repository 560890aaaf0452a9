#include "RecordingHost.h"
#include "datapath/DataPath.h"
#include "datapath/LineStamps.h"
#include "datapath/ReceiveConsumer.h"
#include "datapath/StringTextTarget.h"
#include "serial/ReadTimes.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QtTest>
#include <functional>

namespace {

// Chunk i is read at base + i ms; "{i}" in an expectation is its stamp.
const qint64 base = QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59, 990)).toMSecsSinceEpoch();

QString withStamps(QString text) {
    for (int i = 0; i < 100 && text.contains('{'); ++i)
        text.replace(QStringLiteral("{%1}").arg(i), stampText(base + i));
    return text;
}

// A row whose ASCII column is in its place, as a full row's is.
QString row(const char* offsetAndBytes, const char* ascii) {
    return QString::fromLatin1(offsetAndBytes).leftJustified(60, ' ') + '|' + ascii + "|\r\n";
}

const QRegularExpression stampPattern(QStringLiteral("\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] "));

struct Screen {
    explicit Screen(const QByteArray& codePage) : session(term, host, codePage) {}
    StringTextTarget term;
    RecordingHost host;
    TerminalSession session;
};

} // namespace

class tst_display : public QObject {
    Q_OBJECT
private slots:
    void stamps_data();
    void stamps();
    void hexRows_data();
    void hexRows();
    void charsetSwitch_data();
    void charsetSwitch();
    void readTimes();
    void consumers();
};

void tst_display::stamps_data() {
    QTest::addColumn<QByteArray>("codePage");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QString>("expected"); // empty: only the invariants

    const QByteArray utf8 = "UTF-8";
    QTest::newRow("each line, empty ones too")
        << utf8 << QList<QByteArray>{"a\r\n\r\nb\r"} << "{0}a\r\n{0}\r\n{0}b\r\n";
    QTest::newRow("split line keeps its first stamp")
        << utf8 << QList<QByteArray>{"AT", "Z\r", "\nOK", "\r\n"} << "{0}ATZ\r\n{2}OK\r\n";
    QTest::newRow("break at a chunk's end stamps the next chunk's line")
        << utf8 << QList<QByteArray>{"one\r", "two"} << "{0}one\r\n{1}two";
    QTest::newRow("nothing read, nothing stamped") << utf8 << QList<QByteArray>{"", ""} << "";
    QTest::newRow("backspace stays inside the line")
        << utf8 << QList<QByteArray>{"ab\b", "\bc"} << "{0}c";

    // A line of kanji and half-width katakana cut at every byte: the first
    // character is read once it is whole.
    const QByteArray sjis = "windows-31j";
    const QByteArray line = encodeText(QStringLiteral("漢字ｶﾅ\r表"), sjis);
    for (int cut = 0; cut <= line.size(); ++cut)
        QTest::addRow("shift-jis cut at %d", cut)
            << sjis << QList<QByteArray>{line.left(cut), line.mid(cut)}
            << QString::fromUtf8(cut >= 2 ? "{0}漢字ｶﾅ\r\n" : "{1}漢字ｶﾅ\r\n") +
                   QString::fromUtf8(cut >= 9 ? "{0}表" : "{1}表");

    QList<QByteArray> flood;
    for (int i = 0; i < 3000; ++i)
        flood << QByteArray("line ") + QByteArray::number(i) + "\r\n";
    QTest::newRow("stamps count toward the bound") << utf8 << flood << QString();
}

// Besides the expectation: the log holds the screen byte for byte, and the
// screen without its stamps is what it is with stamps off.
void tst_display::stamps() {
    QFETCH(QByteArray, codePage);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QString, expected);

    Screen stamped(codePage);
    Screen plain(codePage);
    Screen batched(codePage); // every chunk read apart, all taken at once
    stamped.session.setTimestamps(true);
    batched.session.setTimestamps(true);
    ReadSpans reads;
    for (int i = 0; i < chunks.size(); ++i) {
        stamped.session.receive(chunks.at(i), base + i);
        plain.session.receive(chunks.at(i), base + i);
        reads.append({long(chunks.at(i).size()), base + i});
    }
    forEachRead(chunks.join(), reads, 0,
                [&](const QByteArray& part, qint64 ms) { batched.session.receive(part, ms); });
    const QString text = stamped.term.Text();
    QCOMPARE(batched.term.Text(), text);
    if (!expected.isEmpty())
        QCOMPARE(text, withStamps(expected));
    QVERIFY(text.size() <= 16000 + 4096);
    // A backspace erases on screen what the log already holds.
    if (!chunks.join().contains('\b'))
        QVERIFY(stamped.host.log.endsWith(encodeText(text, codePage)));
    // A trimmed front may have cut a stamp; compare from the first whole line.
    if (expected.isEmpty())
        QVERIFY(plain.term.Text().endsWith(text.mid(text.indexOf('\n')).remove(stampPattern)));
    else
        QCOMPARE(QString(text).remove(stampPattern), plain.term.Text());
    const qsizetype lines = text.count(QStringLiteral("\r\n")) + (text.endsWith('\n') ? 0 : 1);
    if (!text.isEmpty() && expected.isEmpty())
        QVERIFY(text.count(stampPattern) >= lines - 1); // the front may be trimmed mid-line
    else if (!text.isEmpty())
        QCOMPARE(text.count(stampPattern), lines);
}

void tst_display::hexRows_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QString>("log");

    const QString full = QStringLiteral(
        "00000000  30 31 32 33 34 35 36 37  38 39 41 42 43 44 45 46  |0123456789ABCDEF|\r\n");
    QTest::newRow("a full row, shown and logged")
        << QStringList{"hex", "0123456789ABCDEF@0"} << full << full;
    QTest::newRow("a row grows across reads, logged once whole")
        << QStringList{"hex", "01234@0", "56789ABCDEF@10"} << full << full;
    const QString shortRow = row("00000000  61 62 09 ff", "ab..");
    QTest::newRow("a row being filled is shown, logged after the silence")
        << QStringList{"hex", "ab\\t\\xff@0"} << shortRow << QString();
    QTest::newRow("silence ends the row; the offset goes on")
        << QStringList{"hex", "ab\\t\\xff@0", "Z@250"}
        << shortRow + "00000004  5a                                                |Z|\r\n"
        << shortRow;
    QTest::newRow("text before the switch counts toward the offset")
        << QStringList{"hello\\r", "hex", "Z@0", "idle"} << "hello\r\n" + row("00000006  5a", "Z")
        << "hello\r\n" + row("00000006  5a", "Z");
    QTest::newRow("rows start on their own line; text decoding resumes whole")
        << QStringList{"ab\\xe6\\x97", "hex", "Z@0", "text", "\\xa5c"}
        << "ab\r\n" + row("00000004  5a", "Z") + "日c"
        << "ab\r\n" + row("00000004  5a", "Z") + "日c";
    QTest::newRow("rows carry their first byte's stamp")
        << QStringList{"stamps", "hex", "0123456789@1", "ABCDEFxy@2"}
        << withStamps("{1}" + full + "{2}" + row("00000010  78 79", "xy"))
        << withStamps("{1}" + full);
    QTest::newRow("a new open counts from zero")
        << QStringList{"hex", "ab@0", "open", "c@0", "idle"}
        << row("00000000  61 62", "ab") + row("00000000  63", "c")
        << row("00000000  61 62", "ab") + row("00000000  63", "c");
}

// Steps: "hex", "text", "stamps", "idle" (the silence timer), "open", or
// bytes (C escapes) with "@ms" for their read time.
void tst_display::hexRows() {
    QFETCH(QStringList, steps);
    QFETCH(QString, screen);
    QFETCH(QString, log);

    Screen s("UTF-8");
    for (const QString& step : steps) {
        if (step == "hex" || step == "text") {
            s.session.setHexView(step == "hex");
        } else if (step == "stamps") {
            s.session.setTimestamps(true);
        } else if (step == "idle") {
            s.session.endHexRow();
        } else if (step == "open") {
            s.session.portOpened();
        } else {
            const qsizetype at = step.lastIndexOf('@');
            QByteArray bytes = step.left(at < 0 ? step.size() : at).toLatin1();
            bytes.replace("\\r", "\r").replace("\\t", "\t");
            for (qsizetype i; (i = bytes.indexOf("\\x")) >= 0;)
                bytes.replace(i, 4, QByteArray::fromHex(bytes.mid(i + 2, 2)));
            const qint64 ms = at < 0 ? 0 : step.mid(at + 1).toLongLong();
            s.session.receive(bytes, base + ms);
        }
    }
    QCOMPARE(s.term.Text(), screen);
    QCOMPARE(QString::fromUtf8(s.host.log), log);
}

void tst_display::charsetSwitch_data() {
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    const QList<QByteArray> sets = {"windows-31j", "UTF-8", "EUC-JP", "ISO-2022-JP"};
    for (const QByteArray& from : sets)
        for (const QByteArray& to : sets)
            if (from != to)
                QTest::addRow("%s to %s", from.constData(), to.constData()) << from << to;
}

// The switch comes while the last character received is cut at each of its
// bytes, or just after it: that character ends in the old set, what follows
// is in the new one, and each part of the log is in the set current when it
// was written.
void tst_display::charsetSwitch() {
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QByteArray old = encodeText(QStringLiteral("漢字\r表"), from);
    if (from == "ISO-2022-JP")
        old.chop(3); // still in kanji mode
    const int charLength = from == "UTF-8" ? 3 : 2;
    const QByteArray next = encodeText(QStringLiteral("表示x\r"), to);
    for (int k = 1; k <= charLength; ++k) {
        const qsizetype cut = old.size() - charLength + k;
        Screen s(from);
        s.session.receive(old.left(cut), base);
        s.session.setCodePage(to);
        s.session.receive(old.mid(cut) + next, base);
        QCOMPARE(s.term.Text(), QStringLiteral("漢字\r\n表表示x\r\n"));
        const QString first =
            k == charLength ? QStringLiteral("漢字\r\n表") : QStringLiteral("漢字\r\n");
        QCOMPARE(s.host.log,
                 encodeText(first, from) + encodeText(s.term.Text().mid(first.size()), to));
    }
}

// Reads of 3, 2 and 4 bytes at 10, 20 and 30 ms (and 1 more within the
// last millisecond), taken in other sizes: each take keeps the times of its
// reads.
void tst_display::readTimes() {
    ReadTimes times;
    times.add(3, 10);
    times.add(0, 15);
    times.add(2, 20);
    times.add(4, 30);
    times.add(1, 30);
    QList<ReadSpans> takes;
    for (const long take : {2, 2, 1, 3, 5, 1})
        takes << times.take(take);
    QCOMPARE(takes, (QList<ReadSpans>{
                        {{2, 10}}, {{1, 10}, {1, 20}}, {{1, 20}}, {{3, 30}}, {{2, 30}}, {}}));
}

namespace {
struct Recorder : ReceiveTakeover {
    QByteArray bytes;
    QString text;
    QList<qint64> times;
    int opened = 0, closed = 0;
    std::function<void()> onText;
    void receivedBytes(const QByteArray& b, qint64 ms) override {
        bytes += b;
        times << ms;
    }
    void receivedText(const QString& t, qint64) override {
        text += t;
        if (onText)
            onText();
    }
    void portOpened() override { ++opened; }
    void portClosed() override { ++closed; }
};
} // namespace

// Consumers get every byte with its read time and the decoded, unescaped
// text in text and hex view; a takeover gets the bytes alone and the screen
// nothing; a consumer may leave from inside its own call.
void tst_display::consumers() {
    Screen screen("windows-31j");
    screen.session.setInterpretEscapes(true);
    Recorder first, second, transfer;
    screen.session.addConsumer(&first);
    screen.session.addConsumer(&second);
    screen.session.portOpened();
    const QByteArray kanji = encodeText(QStringLiteral("漢"), "windows-31j");
    screen.session.receive("\x1b[31mA" + kanji.left(1), base);
    screen.session.setHexView(true);
    screen.session.receive(kanji.mid(1) + "\r\n", base + 1);
    screen.session.setHexView(false);
    QCOMPARE(first.text, QStringLiteral("A漢\r\n"));
    QCOMPARE(second.bytes, "\x1b[31mA" + kanji + "\r\n");
    QCOMPARE(first.times, (QList<qint64>{base, base + 1}));

    screen.session.setTakeover(&transfer);
    const QString shown = screen.term.Text();
    screen.session.receive("**\x18", base + 2);
    QCOMPARE(screen.term.Text(), shown);
    QCOMPARE(transfer.bytes, QByteArray("**\x18"));
    QCOMPARE(first.bytes.size(), second.bytes.size());
    screen.session.setTakeover(nullptr);

    first.onText = [&] { screen.session.removeConsumer(&first); };
    screen.session.receive("x", base + 3);
    screen.session.receive("y", base + 4);
    QCOMPARE(first.text.right(1), QStringLiteral("x"));
    QCOMPARE(second.text.right(2), QStringLiteral("xy"));
    QCOMPARE(second.opened, 1);
}

QTEST_MAIN(tst_display)
#include "tst_display.moc"
