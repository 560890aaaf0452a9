#include "RecordingHost.h"
#include "datapath/DataPath.h"
#include "datapath/LineStamps.h"
#include "datapath/StringTextTarget.h"
#include "screen/TerminalView.h"

#include <QRandomGenerator>
#include <QScrollBar>
#include <QtTest>
#include <memory>

namespace {

const QString BS = QStringLiteral("\b");

// Distinct characters, so a test can tell which part of the content a trim kept.
QString pattern(int length) {
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text += QChar(u'a' + i % 26);
    return text;
}

// `length` printable characters, `middle`, then 40 more.
QString runs(int length, const QString& middle) {
    return pattern(length) + middle + pattern(40);
}

std::unique_ptr<TextTarget> makeTarget(bool widget) {
    if (widget)
        return std::make_unique<LineStore>();
    return std::make_unique<StringTextTarget>();
}

} // namespace

class tst_appendtoterminal : public QObject {
    Q_OBJECT
private slots:
    void edits_data();
    void edits();
    void logWriteRetried();
    void logWriteCancelled();
    void textArrivingDuringRetryKeepsOrder();
    void widgetCountsLikePlainText();
    void widgetHoldsLoneBreaks();
    void viewFollowsNewestText();
    void userSeesTextReceivedSinceTheLastFrame();
    void widgetDrawsColours();
};

void tst_appendtoterminal::edits_data() {
    QTest::addColumn<bool>("widget");
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("logged");

    const QString emoji = QStringLiteral("\U0001F600");
    const QString full = pattern(16000);
    const QString over = pattern(16001);
    const QString crlfCut = pattern(4095) + QStringLiteral("\r\n") + pattern(11905);
    const QString pairCut = pattern(4095) + emoji + pattern(11905);
    const QString farOver = pattern(30000);

    struct Row {
        const char* name;
        QString initial;
        QStringList chunks;
        QString expected;
        QString logged;
    };
    const Row rows[] = {
        {"CR LF kept", {}, {"AB\r\nD"}, "AB\r\nD", "AB\r\nD"},
        {"bare LF joins the lines", {}, {"AB\nD"}, "ABD", "ABD"},
        {"bare CR becomes CR LF", {}, {"AB\rD"}, "AB\r\nD", "AB\r\nD"},
        {"LF CR gives one break", {}, {"A\n\rB"}, "A\r\nB", "A\r\nB"},
        {"CR and LF in two chunks give one break", {}, {"A\r", "\nB"}, "A\r\nB", "A\r\nB"},
        {"backspace within the chunk", "xy", {"A" + BS + "B"}, "xyB", "B"},
        {"backspace erases the chunk's CR", {}, {"A\r" + BS + "B"}, "AB", "AB"},
        {"backspace erases the chunk's LF", {}, {"A\n" + BS + "B"}, "AB", "AB"},
        {"leading backspace replaces the last character", "abc", {BS + "X"}, "abX", "X"},
        {"two leading backspaces erase one character", "abc", {BS + BS + "X"}, "abX", "X"},
        {"backspace that empties the chunk reaches the content",
         "abc",
         {"A" + BS + BS + "X"},
         "abX",
         "X"},
        {"leading backspace on empty content", {}, {BS + "X"}, "X", "X"},
        {"lone backspace after a break removes its LF", "ab\r\n", {BS}, "ab\r", ""},
        {"text after that lone CR", "ab\r\n", {BS + "X\r"}, "ab\rX\r\n", "X\r\n"},
        {"empty chunk", "abc", {""}, "abc", ""},
        {"japanese text",
         {},
         {QStringLiteral("漢字ｶﾀｶﾅ\r")},
         QStringLiteral("漢字ｶﾀｶﾅ\r\n"),
         QStringLiteral("漢字ｶﾀｶﾅ\r\n")},
        {"16000 characters kept", full, {"Z"}, full + "Z", "Z"},
        {"16001 characters lose the first 4096", over, {"Z"}, over.mid(4096) + "Z", "Z"},
        {"trim through a CR LF leaves its LF", crlfCut, {"Z"}, "\n" + pattern(11905) + "Z", "Z"},
        {"trim never splits a surrogate pair", pairCut, {"Z"}, pattern(11905) + "Z", "Z"},
        {"far over the limit drops whole trim amounts",
         farOver,
         {"Z"},
         farOver.mid(4 * 4096) + "Z",
         "Z"},
        // Long printable runs are skipped sixteen units at a time: a control
        // right after a block, in its second half, and a pair across its edge.
        {"bare LF after 16", {}, {runs(16, "\n")}, runs(16, ""), runs(16, "")},
        {"bare CR after 40", {}, {runs(40, "\r")}, runs(40, "\r\n"), runs(40, "\r\n")},
        {"backspace after 37", {}, {runs(37, BS)}, runs(36, ""), runs(36, "")},
        {"CR LF across a block edge", {}, {runs(15, "\r\n")}, runs(15, "\r\n"), runs(15, "\r\n")},
        {"leading backspace erases a whole surrogate pair", "a" + emoji, {BS + "X"}, "aX", "X"},
        {"backspace in the chunk erases a whole surrogate pair",
         {},
         {"a" + emoji + BS + "X"},
         "aX",
         "aX"},
    };
    for (const bool widget : {false, true}) {
        for (const Row& row : rows) {
            QTest::addRow("%s: %s", widget ? "store" : "string", row.name)
                << widget << row.initial << row.chunks << row.expected << row.logged;
        }
    }
}

// Every call ends with the caret after the last character and any selection
// gone; the log holds exactly the edited text.
void tst_appendtoterminal::edits() {
    QFETCH(bool, widget);
    QFETCH(QString, initial);
    QFETCH(QStringList, chunks);
    QFETCH(QString, expected);
    QFETCH(QString, logged);

    auto term = makeTarget(widget);
    RecordingHost host;
    TerminalSession session(*term, host, "UTF-8");
    term->setText(initial);
    term->setSelStart(0);
    term->setSelLength(2);
    for (const QString& chunk : chunks)
        session.append(chunk);

    QCOMPARE(term->Text(), expected);
    QCOMPARE(term->TextLength(), int(expected.size()));
    QCOMPARE(term->SelStart(), int(expected.size()));
    QCOMPARE(term->SelLength(), 0);
    QCOMPARE(QString::fromUtf8(host.log), logged);
    QCOMPARE(host.scripted.messageCount(), 0);
    if (logged.isEmpty())
        QVERIFY(host.writeAttempts.isEmpty());
}

void tst_appendtoterminal::logWriteRetried() {
    StringTextTarget term;
    RecordingHost host;
    TerminalSession session(term, host, "UTF-8");
    host.failWrites = 2;
    host.partBeforeFailure = 1;
    host.scripted.messageAnswers = {AnswerRetry, AnswerRetry};
    session.append(QStringLiteral("OK\r"));

    // Each retry writes only what the failed write left.
    QCOMPARE(host.writeAttempts, QList<QByteArray>({"OK\r\n", "K\r\n", "\r\n"}));
    QCOMPARE(host.log, QByteArray("OK\r\n"));
    QCOMPARE(host.scripted.log,
             QStringList(
                 2, QStringLiteral("msg|Velmora|ディスクがいっぱいです|RetryCancel|critical|0")));
    QCOMPARE(host.logNumber, 1);
    QCOMPARE(term.Text(), QStringLiteral("OK\r\n"));
}

void tst_appendtoterminal::logWriteCancelled() {
    LineStore term;
    RecordingHost host;
    TerminalSession session(term, host, "UTF-8");
    host.failWrites = 5;
    host.scripted.messageAnswers = {AnswerRetry, AnswerCancel};
    session.append(QStringLiteral("OK\r"));

    QCOMPARE(host.writeAttempts.size(), 2);
    QCOMPARE(host.transcript, QStringList{QStringLiteral("closeLog")});
    QCOMPARE(host.logNumber, 0);
    QCOMPARE(term.Text(), QStringLiteral("OK\r\n"));
    QCOMPARE(term.SelStart(), 4);

    // With the log closed the next chunk is only shown.
    session.append(QStringLiteral("X"));
    QCOMPARE(host.writeAttempts.size(), 2);
    QCOMPARE(term.Text(), QStringLiteral("OK\r\nX"));
}

// Text received while the retry box is open waits behind the failed write:
// no second box, and the log keeps the screen's order.
void tst_appendtoterminal::textArrivingDuringRetryKeepsOrder() {
    StringTextTarget term;
    RecordingHost host;
    TerminalSession session(term, host, "UTF-8");
    host.failWrites = 1;
    host.scripted.messageAnswers = {AnswerRetry};
    bool delivered = false;
    host.scripted.whileMessageOpen = [&] {
        if (delivered)
            return;
        delivered = true;
        session.append(QStringLiteral("2"));
        session.append(QStringLiteral("3"));
    };
    session.append(QStringLiteral("1"));

    QCOMPARE(host.scripted.messageCount(), 1);
    QCOMPARE(term.Text(), QStringLiteral("123"));
    QCOMPARE(host.log, QByteArray("123"));
}

// Random edits through the four properties give the same text, caret and
// selection in the store as on a plain string, trims by characters and by
// lines included.
void tst_appendtoterminal::widgetCountsLikePlainText() {
    // The last piece, many lines at once, fills more than one chunk.
    const QStringList pieces = {
        "a",  "\r\n", "\r",       "\n",   "xyz",
        "漢", "",     "\r\n\r\n", "\n\r", QStringLiteral("line\r\n").repeated(5000)};
    QRandomGenerator random(4711);
    StringTextTarget plain;
    LineStore edit;
    for (int step = 0; step < 3000; ++step) {
        const int length = plain.TextLength();
        switch (random.bounded(5)) {
        case 0: {
            const int start = random.bounded(length + 1);
            plain.setSelStart(start);
            edit.setSelStart(start);
            break;
        }
        case 1: {
            const int selection = random.bounded(4);
            plain.setSelLength(selection);
            edit.setSelLength(selection);
            break;
        }
        case 2: {
            const QString text = pieces.at(random.bounded(int(pieces.size())));
            plain.setSelText(text);
            edit.setSelText(text);
            break;
        }
        case 3: {
            const int lines = 1 + random.bounded(6);
            plain.keepLines(lines);
            edit.keepLines(lines);
            plain.setSelStart(plain.TextLength());
            edit.setSelStart(edit.TextLength());
            break;
        }
        default:
            if (length > 40) {
                const int count = random.bounded(length / 2);
                plain.removeFront(count);
                edit.removeFront(count);
                plain.setSelStart(0);
                edit.setSelStart(0);
            }
            break;
        }
        const QByteArray where = "step " + QByteArray::number(step);
        QVERIFY2(edit.Text() == plain.Text(), where);
        QVERIFY2(edit.TextLength() == plain.TextLength(), where);
        QVERIFY2(edit.SelStart() == plain.SelStart(), where);
        QVERIFY2(edit.SelLength() == plain.SelLength(), where);
        QVERIFY2(edit.SelText() == plain.SelText(), where);
        for (int probe = 0; probe < 8 && plain.TextLength() > 0; ++probe) {
            const int at = random.bounded(plain.TextLength());
            QVERIFY2(edit.charAt(at) == plain.charAt(at), where);
        }
    }
}

// Lone CR and LF count one character each and are characters of their
// line; a trim inside a CR LF pair leaves its LF alone on the first line.
void tst_appendtoterminal::widgetHoldsLoneBreaks() {
    LineStore store;
    store.setText(QStringLiteral("\nab\rc\r\nd"));
    QCOMPARE(store.TextLength(), 8);
    QCOMPARE(store.lineCount(), 2);
    QCOMPARE(store.line(store.firstLine()), QStringLiteral("\nab\rc"));
    QCOMPARE(store.Text(), QStringLiteral("\nab\rc\r\nd"));
    store.setText(QStringLiteral("ab\r\ncd"));
    store.removeFront(3);
    QCOMPARE(store.line(store.firstLine()), QStringLiteral("\n"));
    QCOMPARE(store.Text(), QStringLiteral("\ncd"));
}

// Lines trimmed at the cap leave the view on the same text when scrolled
// back; at the end it follows the newest line, and a long line can be
// scrolled to sideways.
void tst_appendtoterminal::viewFollowsNewestText() {
    TerminalView term;
    term.resize(400, 200);
    term.show();
    QVERIFY(QTest::qWaitForWindowExposed(&term));
    RecordingHost host;
    TerminalSession session(term, host, "UTF-8");
    session.setScrollback(1000);
    for (int i = 0; i < 2000; ++i)
        session.append(QStringLiteral("line %1 ").arg(i).repeated(12) + "\r");
    session.append(QStringLiteral("last"));
    term.flushReceived();
    QCOMPARE(term.store().lineCount(), 1000);
    QScrollBar* vertical = term.verticalScrollBar();
    QCOMPARE(vertical->value(), vertical->maximum());
    QCOMPARE(term.store().line(term.visibleLines().back()), QStringLiteral("last"));
    QTRY_VERIFY(term.horizontalScrollBar()->maximum() > 0);

    vertical->setValue(vertical->maximum() - 100);
    const qint64 top = term.visibleLines().front();
    const QString shown = term.store().line(top);
    for (int i = 0; i < 50; ++i)
        session.append(QStringLiteral("more %1\r").arg(i));
    term.flushReceived();
    QCOMPARE(term.store().line(term.visibleLines().front()), shown);
    vertical->setValue(vertical->maximum());
    session.append(QStringLiteral("newest\r"));
    term.flushReceived();
    QCOMPARE(vertical->value(), vertical->maximum());
}

// Text received during a frame is not drawn yet; a key the user presses in
// that frame still acts on it.
void tst_appendtoterminal::userSeesTextReceivedSinceTheLastFrame() {
    TerminalView term;
    term.show();
    QVERIFY(QTest::qWaitForWindowExposed(&term));
    RecordingHost host;
    TerminalSession session(term, host, "UTF-8");
    for (int i = 0; i < 500; ++i)
        session.append(QStringLiteral("line %1\r").arg(i));
    session.append(QStringLiteral("newest"));
    QTest::keyClick(&term, Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(term.selectedText(), QStringLiteral("newest"));
    QTest::keyClick(&term, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(term.selectedText(), QStringLiteral("line 499\nnewest"));
    QVERIFY(term.TextLength() <= 16000 + 8);
}

// The store as drawn: {foreground/background b:text} for coloured text.
QString drawn(const LineStore& store) {
    QStringList lines;
    for (qint64 n = store.firstLine(); n < store.endLine(); ++n) {
        const QString text = store.line(n);
        QString line;
        qsizetype at = 0;
        const StyleRuns runs = store.lineRuns(n);
        for (const StyleRun& run : runs.isEmpty() ? StyleRuns{{text.size(), {}}} : runs) {
            const QString part = text.mid(at, run.length);
            at += run.length;
            const TextStyle s = run.style;
            line +=
                s.isPlain()
                    ? part
                    : QLatin1Char('{') +
                          (s.foreground >= 0 ? QString::number(s.foreground) : QString()) +
                          (s.background >= 0 ? "/" + QString::number(s.background) : QString()) +
                          (s.bold ? QStringLiteral("b") : QString()) + QLatin1Char(':') + part +
                          QLatin1Char('}');
        }
        lines += line;
    }
    return lines.join(QLatin1Char('\n'));
}

// Coloured text keeps its colour in the store, also where a CR LF pair is
// split between two colours, through the display's own editing (a backspace,
// a bare line feed) and where the oldest text is trimmed. The log gets the
// text alone.
void tst_appendtoterminal::widgetDrawsColours() {
    LineStore term;
    RecordingHost host;
    TerminalSession session(term, host, "UTF-8");
    session.setInterpretEscapes(true);
    for (const char* chunk :
         {"\x1b[1;32mroot@board\x1b[0m:~# ls\r", "\n\x1b[01;34mbin\x1b[0m etc\x1b[4",
          "1mX\r\x1b[0m\ny", "\x1b[33mab\bc\x1b[0m\nz"})
        session.receive(chunk);
    term.removeFront(5);
    QCOMPARE(drawn(term), QStringLiteral("{2b:board}:~# ls\n{4b:bin} etc{/1:X}\ny{3:ac}z"));
    QCOMPARE(term.Text(), QStringLiteral("board:~# ls\r\nbin etcX\r\nyacz"));
    QCOMPARE(host.log, "root@board:~# ls\r\nbin etcX\r\nyacz");

    // Stamps stay plain in coloured lines; each line keeps its read time.
    LineStore stamped;
    TerminalSession stamping(stamped, host, "UTF-8");
    stamping.setInterpretEscapes(true);
    stamping.setTimestamps(true);
    stamping.receive("\x1b[32mA\r\nB", 1000);
    stamping.receive("C\r\nD", 2000);
    const QString stamp = stampText(1000);
    QCOMPARE(drawn(stamped), stamp + "{2:A}\n" + stamp + "{2:BC}\n" + stampText(2000) + "{2:D}");
    QCOMPARE(stamped.lineReadMs(stamped.firstLine() + 1), 1000);
    QCOMPARE(stamped.lineReadMs(stamped.firstLine() + 2), 2000);

    // No line takes another's colour.
    LineStore lines;
    TerminalSession flood(lines, host, "UTF-8");
    flood.setInterpretEscapes(true);
    flood.receive(
        "\x1b[32mA\x1b[0m\r\n\x1b[32mB\x1b[0m\r\n\x1b[31mC\x1b[0m\r\n\r\n\x1b[32mD\x1b[0mE");
    QCOMPARE(drawn(lines), QStringLiteral("{2:A}\n{2:B}\n{1:C}\n\n{2:D}E"));
}

QTEST_MAIN(tst_appendtoterminal)
#include "tst_appendtoterminal.moc"
