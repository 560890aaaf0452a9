#include "RecordingHost.h"
#include "TestSerial.h"
#include "datapath/DataPath.h"
#include "platform/CodePage.h"
#include "screen/TerminalView.h"

#include <QtTest>
#include <optional>

namespace {

const QString Prefix = QStringLiteral("ｽﾃｰﾀｽ: ");
const QString PromptTitle =
    QStringLiteral("中断する場合は [ｷｬﾝｾﾙ] を、無視する場合は [OK] をｸﾘｯｸしてください。");
const QString Undefined = QStringLiteral("未定義のｴﾗｰまたはｲﾍﾞﾝﾄが発生しました。");

// The component with a scripted event code, for the handler's table: every
// code, also those this component never raises.
class AnnouncingSerial : public TestSerial {
public:
    using TestSerial::TestSerial;
    qint16 CommEvent() const override { return code ? *code : TestSerial::CommEvent(); }
    // Runs the handler as the component's event would, at once.
    void announce(int event) {
        code = qint16(event);
        emit OnComm();
        code.reset();
    }
    std::optional<qint16> code;
};

// One open connection: the component over the scripted driver, with modem
// lines and counters, the terminal and the window.
struct Line {
    explicit Line(const QByteArray& codePage = "UTF-8") : serial(codePage) {
        serial.line.hasModemLines = true;
        serial.line.hasCounters = true;
        serial.setPortOpen(true);
        serial.calls.clear();
        session = std::make_unique<TerminalSession>(term, host, serial.codePage());
        QObject::connect(&serial, &ISerialCtl::OnComm, &serial,
                         [this] { session->onComm(serial); });
        QObject::connect(&serial, &ISerialCtl::PortClosed, &serial,
                         [this] { session->portClosed(serial); });
    }
    // A byte received with a line error: a parity error with parity on, else
    // a framing error.
    void lineError() { serial.receive(QByteArray("\xff\x00x", 3)); }
    AnnouncingSerial serial;
    TerminalView term;
    RecordingHost host;
    std::unique_ptr<TerminalSession> session;
};

QString errorBox(const QString& text) {
    return QStringLiteral("msg|%1|%2|OKCancel|none|0").arg(PromptTitle, text);
}

} // namespace

class tst_commevents : public QObject {
    Q_OBJECT
private slots:
    void eventTexts_data();
    void eventTexts();
    void receiveLeavesStatusAlone();
    void errorAnswered_data();
    void errorAnswered();
    void closeFailureIsShown();
    void errorBurstGivesOnePrompt();
    void splitCharacterArrivesWhole_data();
    void splitCharacterArrivesWhole();
    void closeShowsHeldBackBytes_data();
    void closeShowsHeldBackBytes();
    void linesReadApartKeepTheirStamps();
};

void tst_commevents::eventTexts_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("eventText");
    QTest::addColumn<QString>("errorText");
    const struct {
        int code;
        const char* event;
        const char* error;
    } rows[] = {
        {1, "", ""},
        {3, "CTS ﾗｲﾝの状態が変化しました。", ""},
        {4, "DSR ﾗｲﾝの状態が変化しました。", ""},
        {5, "CD ﾗｲﾝの状態が変化しました。", ""},
        {6, "呼び出し信号を検出しました。", ""},
        {7, "EOF を受信しました。", ""},
        {1001, "", "ﾌﾞﾚｰｸ信号を検出しました。"},
        {1002, "", "CTS ﾀｲﾑｱｳﾄを検出しました。"},
        {1003, "", "DSR ﾀｲﾑｱｳﾄを検出しました。"},
        {1004, "", "ﾌﾚｰﾐﾝｸﾞ ｴﾗｰが発生しました。"},
        {1005, "", "未定義のｴﾗｰまたはｲﾍﾞﾝﾄが発生しました。"},
        {1006, "", "ｵｰﾊﾞｰﾗﾝ ｴﾗｰが発生しました。"},
        {1007, "", "CD ﾀｲﾑｱｳﾄを検出しました。"},
        {1008, "", "受信ﾊﾞｯﾌｧがｵｰﾊﾞｰﾌﾛｰしました。"},
        {1009, "", "ﾊﾟﾘﾃｨ ｴﾗｰが発生しました。"},
        {1010, "", "送信ﾊﾞｯﾌｧ ﾌﾙ ｴﾗｰが発生しました。"},
        {1011, "", "DCB 取得時にｴﾗｰが発生しました。"},
        {0, "", "未定義のｴﾗｰまたはｲﾍﾞﾝﾄが発生しました。"},
        {8, "", "未定義のｴﾗｰまたはｲﾍﾞﾝﾄが発生しました。"},
        {1012, "", "未定義のｴﾗｰまたはｲﾍﾞﾝﾄが発生しました。"},
    };
    for (const auto& row : rows)
        QTest::addRow("code %d", row.code)
            << row.code << QString::fromUtf8(row.event) << QString::fromUtf8(row.error);
}

// A line event shows its text and starts Timer2; an error also beeps and asks
// once; OK leaves the port open.
void tst_commevents::eventTexts() {
    QFETCH(int, code);
    QFETCH(QString, eventText);
    QFETCH(QString, errorText);
    Line line;
    line.serial.announce(code);

    QStringList expected;
    QStringList boxes;
    if (!eventText.isEmpty()) {
        expected << "status:" + Prefix + eventText << "clearSoon";
    } else if (!errorText.isEmpty()) {
        expected << "status:" + Prefix + errorText << "clearSoon";
        boxes << "beep" << errorBox(errorText);
    }
    QCOMPARE(line.host.transcript, expected);
    QCOMPARE(line.host.scripted.log, boxes);
    QVERIFY(line.serial.PortOpen());
    QVERIFY(line.serial.calls.isEmpty());
    QCOMPARE(line.term.Text(), QString());
}

void tst_commevents::receiveLeavesStatusAlone() {
    Line line;
    line.serial.announce(CommCTS);
    line.host.transcript.clear();
    line.serial.receive("OK\r\n");
    line.serial.announce(CommSend);
    QVERIFY(line.host.transcript.isEmpty());
    QCOMPARE(line.host.status, Prefix + QStringLiteral("CTS ﾗｲﾝの状態が変化しました。"));
    QCOMPARE(line.host.scripted.log, QStringList());
    QCOMPARE(line.term.Text(), QStringLiteral("OK\r\n"));
}

void tst_commevents::errorAnswered_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QStringList>("transcript");
    const QString status = "status:" + Prefix + QStringLiteral("ﾊﾟﾘﾃｨ ｴﾗｰが発生しました。");
    QTest::newRow("OK ignores") << int(AnswerOK) << true << QStringList{status, "clearSoon"};
    QTest::newRow("Cancel closes the port")
        << int(AnswerCancel) << false << QStringList{status, "refresh", "clearSoon"};
}

void tst_commevents::errorAnswered() {
    QFETCH(int, answer);
    QFETCH(bool, open);
    QFETCH(QStringList, transcript);
    Line line;
    line.serial.setSettings(QStringLiteral("9600,e,8,1"));
    line.serial.calls.clear();
    line.host.scripted.messageAnswers = {answer};
    line.lineError();
    QCOMPARE(line.serial.PortOpen(), open);
    QCOMPARE(line.serial.calls, open ? QStringList() : QStringList{"PortOpen=False"});
    QCOMPARE(line.host.transcript, transcript);
    QCOMPARE(line.host.scripted.beeps, 1);
    QCOMPARE(line.host.scripted.messageCount(), 1);
}

// A close that fails is said, after the display shows the real state.
void tst_commevents::closeFailureIsShown() {
    Line line;
    line.host.scripted.messageAnswers = {AnswerCancel};
    line.serial.failOn << QStringLiteral("PortOpen");
    line.lineError();
    QVERIFY(line.serial.PortOpen());
    QCOMPARE(line.host.scripted.log.last(),
             QStringLiteral("msg|Velmora|PortOpen failed|OK|exclamation|0"));
    QVERIFY(line.host.transcript.contains(QStringLiteral("refresh")));
}

// Errors raised while the prompt is open update the panel and beep but ask
// nothing more; data received meanwhile is shown and logged in order. The
// prompt's own event loop serves the line, as a message box's does.
void tst_commevents::errorBurstGivesOnePrompt() {
    Line line;
    line.serial.receive("12");
    line.host.scripted.whileMessageOpen = [&] {
        line.host.scripted.whileMessageOpen = nullptr;
        line.serial.line.counterValues.overrun = 1;
        QTRY_COMPARE(line.host.scripted.beeps, 2);
        line.serial.receive("34");
        line.lineError();
        line.serial.line.lines |= LineDSR;
        QTRY_VERIFY(line.host.status.contains(QStringLiteral("DSR")));
        line.serial.receive("56");
    };
    line.lineError();

    QCOMPARE(line.host.scripted.messageCount(), 1);
    QCOMPARE(line.host.scripted.beeps, 3);
    QCOMPARE(line.term.Text(), QStringLiteral("12?34?56"));
    QCOMPARE(line.host.log, QByteArray("12?34?56"));
    QCOMPARE(line.host.transcript,
             (QStringList{"status:" + Prefix + QStringLiteral("ﾌﾚｰﾐﾝｸﾞ ｴﾗｰが発生しました。"),
                          "status:" + Prefix + QStringLiteral("ｵｰﾊﾞｰﾗﾝ ｴﾗｰが発生しました。"),
                          "status:" + Prefix + QStringLiteral("ﾌﾚｰﾐﾝｸﾞ ｴﾗｰが発生しました。"),
                          "status:" + Prefix + QStringLiteral("DSR ﾗｲﾝの状態が変化しました。"),
                          "clearSoon", "clearSoon"}));
    QVERIFY(line.serial.PortOpen());
}

void tst_commevents::splitCharacterArrivesWhole_data() {
    QTest::addColumn<QByteArray>("codePage");
    QTest::newRow("shift-jis") << QByteArray("windows-31j");
    QTest::newRow("utf-8") << QByteArray("UTF-8");
}

// Whatever byte a chunk ends at, screen and log get the line whole, the log
// byte for byte as sent.
void tst_commevents::splitCharacterArrivesWhole() {
    QFETCH(QByteArray, codePage);
    const QString text = QStringLiteral("AT漢字ｶﾀｶﾅ表示\r\n");
    const QByteArray bytes = encodeText(text, codePage);
    QCOMPARE(decodeText(bytes, codePage), text);
    for (int cut = 1; cut < bytes.size(); ++cut) {
        Line line(codePage);
        line.serial.receive(bytes.left(cut));
        line.serial.receive(bytes.mid(cut));
        QVERIFY2(line.term.Text() == text, QByteArray::number(cut));
        QVERIFY2(line.host.log == bytes, QByteArray::number(cut));
    }
    Line trickle(codePage);
    for (const char byte : bytes)
        trickle.serial.receive(QByteArray(1, byte));
    QCOMPARE(trickle.term.Text(), text);
    QCOMPARE(trickle.host.log, bytes);
}

void tst_commevents::closeShowsHeldBackBytes_data() {
    QTest::addColumn<int>("threshold"); // RThreshold from here on
    QTest::addColumn<QByteArray>("later");
    QTest::addColumn<QString>("atClose");
    QTest::newRow("receiving: held-back character shown")
        << 1 << QByteArray() << QStringLiteral("A\uFFFD");
    QTest::newRow("not receiving: close shows nothing")
        << 0 << QByteArray("123") << QStringLiteral("A");
}

// A character cut short by the close is shown rather than lost while
// receiving; with RThreshold 0 the close shows nothing of what came in. The
// next connection starts afresh either way.
void tst_commevents::closeShowsHeldBackBytes() {
    QFETCH(int, threshold);
    QFETCH(QByteArray, later);
    QFETCH(QString, atClose);
    Line line("windows-31j");
    line.serial.receive(QByteArray("A\x88", 2));
    QCOMPARE(line.term.Text(), QStringLiteral("A"));
    line.serial.setRThreshold(qint16(threshold));
    line.serial.receive(later);
    line.serial.setPortOpen(false);
    QCOMPARE(line.term.Text(), atClose);

    line.serial.setPortOpen(true);
    line.serial.setRThreshold(1);
    line.serial.receive("B");
    QCOMPARE(line.term.Text(), atClose + "B");
}

// Lines read apart while the window was busy reach it in one take, each
// still stamped with its own read.
void tst_commevents::linesReadApartKeepTheirStamps() {
    Line line;
    line.session->setTimestamps(true);
    const auto readNotTaken = [&](const QByteArray& bytes) {
        line.serial.line.feed(bytes);
        QDeadlineTimer deadline(10000);
        while (!line.serial.line.drained() && !deadline.hasExpired())
            QThread::msleep(1);
    };
    readNotTaken("A\r\n");
    for (const qint64 read = QDateTime::currentMSecsSinceEpoch();
         QDateTime::currentMSecsSinceEpoch() == read;)
        QThread::msleep(1);
    readNotTaken("B\r\n");
    line.serial.settle();
    const QStringList lines = line.term.Text().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].endsWith(QStringLiteral("] A")) && lines[1].endsWith(QStringLiteral("] B")));
    QVERIFY2(lines[0].chopped(1) != lines[1].chopped(1), qPrintable(lines[0]));
}

QTEST_MAIN(tst_commevents)
#include "tst_commevents.moc"
