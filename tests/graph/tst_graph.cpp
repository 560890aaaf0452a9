// The graph's reading of received text, what it keeps and what it exports.
#include "graph/GraphCsv.h"
#include "graph/GraphFeed.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Rows as "time: name=value ...", joined by " / ", then "(skipped N)".
QString describe(const GraphFeed& feed) {
    const SampleStore& store = feed.store();
    QStringList rows;
    for (qint64 sample = store.first(); sample < store.end(); ++sample) {
        QString row = QString::number(store.timeAt(sample)) + ':';
        for (int channel = 0; channel < store.channelCount(); ++channel)
            if (store.present(channel, sample))
                row += QStringLiteral(" %1=%2").arg(
                    feed.parser().channels().at(channel),
                    QString::fromLatin1(
                        csvNumber(store.valueAt(channel, sample), store.wide(channel))));
        rows << row;
    }
    return rows.join(QStringLiteral(" / ")) +
           QStringLiteral(" (skipped %1)").arg(feed.skippedLines());
}

} // namespace

class tst_graph : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void ringKeepsTheNewest();
    void csvFile();
};

void tst_graph::lines_data() {
    QTest::addColumn<QStringList>("reads"); // read i comes at time i
    QTest::addColumn<QString>("expected");

    QTest::newRow("labelled pairs")
        << QStringList{"temp:23.5,hum:45\r\n"} << "0: temp=23.5 hum=45 (skipped 0)";
    QTest::newRow("bare values by position, spaces and tabs")
        << QStringList{"1 2\t-3\r\n"} << "0: 1=1 2=2 3=-3 (skipped 0)";
    QTest::newRow("a line of labels names what follows")
        << QStringList{"Sine Cosine\r\n1 2\r\n"} << "0: Sine=1 Cosine=2 (skipped 1)";
    QTest::newRow("key=value, spaces about the marks")
        << QStringList{"x = 1, y: 2 z :3\n"} << "0: x=1 y=2 z=3 (skipped 0)";
    QTest::newRow("CSV cell left empty keeps the positions")
        << QStringList{"1,,3.25e2\n"} << "0: 1=1 3=325 (skipped 0)";
    QTest::newRow("boot text makes no channel")
        << QStringList{"ets Jun  8 2016 00:22:57\r\nrst:0x1 (POWERON_RESET),boot:0x13\r\n"
                       "23.5C\r\nv:1\r\n"}
        << "0: v=1 (skipped 3)";
    QTest::newRow("nan, inf and an overflow")
        << QStringList{"a:nan,b:inf,c:-inf,d:ovf,e:+1,f:-1e999,g:1e-999\n"}
        << "0: a=nan b=inf c=-inf d=nan e=1 f=-inf g=0 (skipped 0)";
    QStringList seventeen;
    for (int i = 1; i <= 17; ++i)
        seventeen << QString::number(i * 10);
    QTest::newRow("seventeen channels: the last left out")
        << QStringList{seventeen.join(',') + "\n"}
        << "0: 1=10 2=20 3=30 4=40 5=50 6=60 7=70 8=80 9=90 10=100 11=110 12=120 13=130 "
           "14=140 15=150 16=160 (skipped 0)";
    QTest::newRow("a channel appears mid-stream")
        << QStringList{"a:1\n", "a:2,b:3\n", "b:4\n"} << "0: a=1 / 1: a=2 b=3 / 2: b=4 (skipped 0)";
    QTest::newRow("CR, LF, CR LF and LF CR; a line takes its first read's time")
        << QStringList{"1\r", "\n2", "\n3\r4\r\n", "5\n\r6\n\n"}
        << "0: 1=1 / 1: 1=2 / 2: 1=3 / 2: 1=4 / 3: 1=5 / 3: 1=6 (skipped 0)";
    QTest::newRow("escape sequences are no part of a value")
        << QStringList{"\x1b[32mt:1\x1b[0m\x1b]0;title\x07\r\n"} << "0: t=1 (skipped 0)";
    QTest::newRow("a value a float would change keeps its digits")
        << QStringList{"f:0.1,n:1733650123\n", "f:16777217.5\n"}
        << "0: f=0.1 n=1733650123 / 1: f=16777217.5 (skipped 0)";
    QTest::newRow("20 kB of text is one skipped line")
        << QStringList{"a:1," + QString(20000, 'x') + "\n", "a:2\n"} << "1: a=2 (skipped 1)";
    QTest::newRow("a line past the limit is skipped in pieces too")
        << QStringList{QString(40000, '1'), QString(40000, '2'), "\na:3\n"} << "2: a=3 (skipped 1)";
    QTest::newRow("a label alone, an empty label, a pair without a value")
        << QStringList{":5\na:\nb=\n\n  \n"} << " (skipped 3)";
}

void tst_graph::lines() {
    QFETCH(QStringList, reads);
    QFETCH(QString, expected);
    GraphFeed feed;
    for (int i = 0; i < reads.size(); ++i)
        feed.receivedText(reads.at(i), i);
    QCOMPARE(describe(feed), expected);
    QVERIFY(feed.parser().channels().size() <= GraphParser::MaxChannels);
}

// Past its capacity the store drops the oldest rows; block extents and a
// channel turned to doubles mid-way agree with the rows themselves.
void tst_graph::ringKeepsTheNewest() {
    GraphFeed feed(256);
    QString text;
    for (int i = 0; i < 1000; ++i)
        text += QStringLiteral("seq:%1,w:%2%3\n")
                    .arg(i)
                    .arg(i % 7 == 0 ? QStringLiteral("nan") : QString::number(i * 0.1))
                    .arg(i == 900 ? QStringLiteral(",late:1") : QString());
    text += "w:123456.789\n";
    feed.receivedText(text, 5);
    const SampleStore& store = feed.store();
    QCOMPARE(store.size(), qint64(256));
    QCOMPARE(store.end(), 1001);
    QCOMPARE(store.valueAt(0, store.first()), double(1001 - store.size()));
    QVERIFY(store.wide(1));
    QCOMPARE(csvNumber(store.valueAt(1, 999), true), QByteArray("99.9"));
    QVERIFY(!store.present(0, 1000) && !store.present(2, 899) && store.present(2, 900));
    for (qint64 from = store.first() - 3; from < store.end(); from += 37)
        for (qint64 to = from; to <= store.end() + 2; to += 29) {
            SampleStore::Extent rows{HUGE_VAL, -HUGE_VAL};
            for (qint64 s = std::max(from, store.first()); s < std::min(to, store.end()); ++s)
                if (store.present(1, s) && std::isfinite(store.valueAt(1, s)))
                    rows = {std::min(rows.low, store.valueAt(1, s)),
                            std::max(rows.high, store.valueAt(1, s))};
            const auto blocks = store.extent(1, from, to);
            QCOMPARE(blocks.any(), rows.any());
            if (rows.any())
                QVERIFY(blocks.low == rows.low && blocks.high == rows.high);
        }
    QCOMPARE(store.sampleAtTime(5), store.first());
    QCOMPARE(store.sampleAtTime(6), store.end());
}

void tst_graph::csvFile() {
    GraphFeed feed;
    const qint64 at = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 89)).toMSecsSinceEpoch();
    feed.receivedText("\"温度\":21.5,b:1e-7\n", at);
    feed.receivedText("b:2.5\n", at + 1000);
    QTemporaryDir dir;
    const QString path = dir.filePath("graph.csv");
    QString error;
    QVERIFY(writeGraphCsv(feed, path, &error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QStringLiteral("\ufeff時刻,\"\"\"温度\"\"\",b\r\n"
                                            "2026-03-04 05:06:07.089,21.5,1e-07\r\n"
                                            "2026-03-04 05:06:08.089,,2.5\r\n")
                                 .toUtf8());
    QVERIFY(!writeGraphCsv(feed, dir.filePath("missing/graph.csv"), &error));
    QVERIFY(!error.isEmpty());
}

QTEST_MAIN(tst_graph)
#include "tst_graph.moc"
