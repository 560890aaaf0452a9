// The graph in the real window over a pseudo-terminal: off by default, on
// from the View menu beside the terminal, every numbered line kept once and
// in order, in the store and in the exported CSV.
#include "PortsConfig.h"
#include "PtyPair.h"
#include "ScriptedPrompts.h"

#include "graph/GraphController.h"
#include "graph/GraphPane.h"
#include "platform/Clock.h"
#include "platform/SettingsStore.h"
#include "screen/TerminalView.h"
#include "serial/SerialCtl.h"
#include "terminal/frmTerminal.h"

#include <QDir>
#include <QFile>
#include <QSplitter>
#include <QTemporaryDir>
#include <QtTest>

class tst_graph_pty : public QObject {
    Q_OBJECT
private:
    PortsConfig m_config;

private slots:
    void initTestCase() { QVERIFY(m_config.setUp()); }

    void everyLineOnceInStoreAndCsv();
    void shownFromSettingsAndSavingAsks();
};

void tst_graph_pty::everyLineOnceInStoreAndCsv() {
    PtyPair pty;
    QVERIFY(pty.isValid());
    QVERIFY(PortsConfig::pin(1, pty.slavePath()));
    SerialCtl serial;
    ScriptedPrompts prompts;
    MemorySettingsStore store;
    SystemClock clock;
    frmTerminal w(&serial, &prompts, &store, &clock);
    w.show();
    GraphController& graph = w.graph();
    QVERIFY(!graph.shown() && !w.findChild<QSplitter*>());
    w.mnuOpen_Click();
    QVERIFY(serial.PortOpen());

    // Off: nothing is read for the graph.
    QVERIFY(pty.write("seq:1\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(w.txtTerm->Text().contains("seq:1"), 5000);
    QCOMPARE(graph.feed().store().size(), 0);

    graph.mnuGraph->trigger();
    QCOMPARE(store.values.value("Velmora/View/Graph"), QString("True"));
    QVERIFY(graph.pane()->isVisible());
    QCOMPARE(w.txtTerm->parentWidget(), w.findChild<QSplitter*>());

    constexpr int lines = 4000;
    QByteArray chunk;
    for (int seq = 0; seq < lines; ++seq) {
        chunk += QStringLiteral("boot %1\r\nseq:%1,a:%2.25,b:-%1e-3\r\n")
                     .arg(seq)
                     .arg(seq % 97)
                     .toLatin1();
        if (chunk.size() > 4000 || seq == lines - 1) {
            QVERIFY(pty.write(chunk));
            chunk.clear();
            QCoreApplication::processEvents();
        }
    }
    const SampleStore& kept = graph.feed().store();
    QTRY_COMPARE_WITH_TIMEOUT(kept.size(), qint64(lines), 20000);
    QCOMPARE(graph.feed().skippedLines(), qint64(lines));
    for (qint64 sample = kept.first(); sample < kept.end(); ++sample)
        QCOMPARE(kept.valueAt(0, sample), double(sample));
    QTRY_VERIFY(w.txtTerm->Text().endsWith(
        QStringLiteral("seq:%1,a:%2.25,b:-%1e-3\r\n").arg(lines - 1).arg((lines - 1) % 97)));

    QTemporaryDir dir;
    FileDialogResult answer;
    answer.path = dir.filePath("plot");
    answer.fileTitle = "plot";
    prompts.fileAnswers = {answer};
    graph.mnuGraphCsv->trigger();
    QCOMPARE(prompts.fileSetups.last().title, QStringLiteral("CSVに保存"));
    QFile csv(answer.path + ".csv");
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readLine(), QStringLiteral("\ufeff時刻,seq,a,b\r\n").toUtf8());
    for (int seq = 0; seq < lines; ++seq) {
        const QList<QByteArray> cells = csv.readLine().trimmed().split(',');
        QCOMPARE(cells.size(), 4);
        QCOMPARE(cells.at(1), QByteArray::number(seq));
        QCOMPARE(cells.at(3), "-" + QByteArray::number(seq * 1e-3));
    }
    QVERIFY(csv.atEnd());
    QCOMPARE(prompts.messageCount(), 0);

    graph.mnuGraph->trigger();
    QCOMPARE(store.values.value("Velmora/View/Graph"), QString("False"));
    QCOMPARE(w.txtTerm->parentWidget(), w.clientArea());
    QVERIFY(!graph.pane()->isVisible());
}

// Shown at start when saved so; an existing file is kept unless the user
// agrees; a file that cannot be written is named in the warning.
void tst_graph_pty::shownFromSettingsAndSavingAsks() {
    SerialCtl serial;
    ScriptedPrompts prompts;
    MemorySettingsStore store;
    store.values.insert("Velmora/View/Graph", "True");
    SystemClock clock;
    frmTerminal w(&serial, &prompts, &store, &clock);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.graph().shown() && w.graph().mnuGraph->isChecked());
    const auto* splitter = w.findChild<QSplitter*>();
    QCOMPARE(splitter->geometry().width(), w.clientArea()->width());
    QVERIFY(w.txtTerm->width() > splitter->width() / 3 && w.graph().pane()->width() > 100);

    QTemporaryDir dir;
    const QString path = dir.filePath("kept.csv");
    QFile existing(path);
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("mine") == 4);
    existing.close();
    FileDialogResult answer;
    answer.path = path;
    prompts.fileAnswers = {answer};
    prompts.messageAnswers = {AnswerCancel};
    w.graph().saveCsv();
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("mine"));
    QVERIFY(prompts.lastMessageText().contains(path));

    answer.path = dir.filePath("no/such/folder/graph.csv");
    prompts.fileAnswers = {answer};
    w.graph().saveCsv();
    QVERIFY(prompts.lastMessageText().startsWith("ｸﾞﾗﾌを " + answer.path + " に保存できません: "));
}

QTEST_MAIN(tst_graph_pty)
#include "tst_graph_pty.moc"
