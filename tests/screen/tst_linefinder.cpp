#include "RecordingHost.h"
#include "datapath/DataPath.h"
#include "screen/LineFinder.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// Lines of words in both cases, some long, some empty; Japanese only in every
// other stretch of 500 lines, so the store holds both one-byte and two-byte chunks.
QStringList generatedLines(int count, quint32 seed) {
    static const QStringList ascii = {"alpha", "Beta", "GAMMA", "delta", "ok", "ERROR",
                                      "error", "x=1",  "a.b",   "aaa",   "",   "tail",
                                      "Ok",    "end.", "\t",    "µs",    "ÀÉ"};
    static const QStringList words = ascii + QStringList{"日本語", "ﾃｽﾄ", "漢字"};
    QRandomGenerator random(seed);
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        QStringList line;
        const int n = random.bounded(i % 97 == 0 ? 60 : 8);
        const QStringList& from = i % 1000 < 500 ? ascii : words;
        for (int k = 0; k < n; ++k)
            line += from.at(random.bounded(int(from.size())));
        lines += line.join(QLatin1Char(' '));
    }
    return lines;
}

// The plain scan the finder must agree with: every match of every line.
std::vector<TextMark> scanned(const LineStore& store, const FindQuery& query) {
    std::vector<TextMark> marks;
    const QRegularExpression re(query.text, query.caseSensitive
                                                ? QRegularExpression::NoPatternOption
                                                : QRegularExpression::CaseInsensitiveOption);
    const Qt::CaseSensitivity cs = query.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const QStringList lines = store.Text().split(QStringLiteral("\r\n"));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        const qint64 number = store.firstLine() + i;
        qsizetype at = 0;
        while (at <= line.size()) {
            qsizetype found = -1, length = 0;
            if (query.regex) {
                const QRegularExpressionMatch m = re.match(line, at);
                if (m.hasMatch()) {
                    found = m.capturedStart();
                    length = m.capturedLength();
                }
            } else {
                found = line.indexOf(query.text, at, cs);
                length = query.text.size();
            }
            if (found < 0)
                break;
            marks.push_back({number, found, length});
            at = found + std::max<qsizetype>(1, length);
        }
    }
    return marks;
}

} // namespace

class tst_linefinder : public QObject {
    Q_OBJECT
private slots:
    void agreesWithPlainScan_data();
    void agreesWithPlainScan();
    void nextWrapsBothWays();
    void linesReadApartKeepTheirTimes();
};

void tst_linefinder::agreesWithPlainScan_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("regex");
    QTest::addColumn<bool>("caseSensitive");
    QTest::newRow("word, any case") << "error" << false << false;
    QTest::newRow("word, exact case") << "Ok" << false << true;
    QTest::newRow("overlapping") << "aa" << false << true;
    QTest::newRow("japanese") << "日本" << false << false;
    QTest::newRow("latin-1 letters, any case") << "àé" << false << false;
    QTest::newRow("across a word gap") << "a b" << false << false;
    QTest::newRow("dot is literal") << "a.b" << false << false;
    QTest::newRow("regex alternatives") << "err(or)?|gam+a" << true << false;
    QTest::newRow("regex anchors") << "^alpha|tail$" << true << true;
    QTest::newRow("regex class") << "[0-9]+" << true << false;
    QTest::newRow("regex empty match") << "x*" << true << false;
}

// Every match, its count and the lines holding one equal a plain scan of the
// same text: after a share of lines, after trims at the cap, after a backspace
// reopened a finished line, and in lines longer than a chunk.
void tst_linefinder::agreesWithPlainScan() {
    QFETCH(QString, text);
    QFETCH(bool, regex);
    QFETCH(bool, caseSensitive);
    const FindQuery query{text, regex, caseSensitive};

    LineStore store;
    RecordingHost host;
    TerminalSession session(store, host, "UTF-8");
    session.setScrollback(1500);
    LineFinder finder(store);
    QVERIFY(finder.setQuery(query));
    const QStringList lines = generatedLines(4000, 7);
    const auto check = [&](const char* when) {
        finder.update();
        const std::vector<TextMark> expected = scanned(store, query);
        std::vector<qint64> expectedLines;
        std::vector<TextMark> found;
        for (qint64 n = store.firstLine(); n < store.endLine(); ++n)
            for (const TextMark& mark : finder.marksIn(n, store.line(n)))
                found.push_back(mark);
        for (const TextMark& mark : expected)
            if (expectedLines.empty() || expectedLines.back() != mark.line)
                expectedLines.push_back(mark.line);
        std::vector<qint64> listed;
        for (qint64 line : finder.lines())
            if (line >= store.firstLine())
                listed.push_back(line);
        QVERIFY2(finder.count() == qint64(expected.size()), when);
        QVERIFY2(listed == expectedLines, when);
        QVERIFY2(found.size() == expected.size(), when);
        for (size_t i = 0; i < found.size(); ++i)
            QVERIFY2(found[i].line == expected[i].line && found[i].column == expected[i].column &&
                         found[i].length == expected[i].length,
                     when);
    };
    for (int i = 0; i < 1000; ++i)
        session.append(lines[i] + "\r");
    check("first share");
    for (int i = 1000; i < 4000; i += 7)
        session.append(lines.mid(i, 7).join(QLatin1Char('\r')) + "\r");
    check("after trims");
    session.append(QStringLiteral("\b\bERROR tail"));
    check("after a backspace into the last line");
    session.append(QStringLiteral("alpha error ").repeated(3000) + "\rok");
    check("with a line longer than a chunk");
}

void tst_linefinder::nextWrapsBothWays() {
    LineStore store;
    store.setText(QStringLiteral("one hit\r\nnone\r\nhit hit\r\nlast"));
    LineFinder finder(store);
    QVERIFY(finder.setQuery({QStringLiteral("hit"), false, false}));
    const qint64 first = store.firstLine();
    const auto at = [](std::optional<TextMark> mark) {
        return mark ? QPair<qint64, qsizetype>(mark->line, mark->column)
                    : QPair<qint64, qsizetype>(-1, -1);
    };
    QCOMPARE(at(finder.next({first, 0}, false)), qMakePair(first, qsizetype(4)));
    QCOMPARE(at(finder.next({first, 7}, false)), qMakePair(first + 2, qsizetype(0)));
    QCOMPARE(at(finder.next({first + 2, 3}, false)), qMakePair(first + 2, qsizetype(4)));
    QCOMPARE(at(finder.next({first + 3, 0}, false)), qMakePair(first, qsizetype(4)));
    QCOMPARE(at(finder.next({first, 4}, true)), qMakePair(first + 2, qsizetype(4)));
    QCOMPARE(at(finder.next({first + 2, 4}, true)), qMakePair(first + 2, qsizetype(0)));
    QString error;
    QVERIFY(!finder.setQuery({QStringLiteral("(open"), true, false}, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!finder.next({first, 0}, false));
}

// Each line keeps the time of the read that brought its first character,
// also when several reads are shown in one go, and across a Shift-JIS
// character cut between two reads.
void tst_linefinder::linesReadApartKeepTheirTimes() {
    LineStore store;
    RecordingHost host;
    TerminalSession session(store, host, "Shift_JIS");
    const QByteArray kanji = QByteArray("\x8A\xBF", 2); // 漢
    session.receive("first\r\nsec", 1000);
    session.receive("ond\r\n" + kanji.left(1), 1700);
    session.receive(kanji.mid(1) + "\r\nthird", 2400);
    QCOMPARE(store.Text(), QStringLiteral("first\r\nsecond\r\n漢\r\nthird"));
    const qint64 first = store.firstLine();
    QCOMPARE(store.lineReadMs(first), 1000);
    QCOMPARE(store.lineReadMs(first + 1), 1000);
    QCOMPARE(store.lineReadMs(first + 2), 2400);
    QCOMPARE(store.lineReadMs(first + 3), 2400);
}

QTEST_MAIN(tst_linefinder)
#include "tst_linefinder.moc"
