// The real window with the real serial component over a pseudo-terminal
// opened as Com1: port toggle, keyboard transmit, Shift-JIS reception, a
// capture end to end, the line commands, the properties dialog and device loss.
#include "PortsConfig.h"
#include "PtyPair.h"
#include "ScriptedPrompts.h"

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/SettingsStore.h"
#include "screen/TerminalView.h"
#include "serial/SerialCtl.h"
#include "settings/frmProperties.h"
#include "terminal/ClickableImage.h"
#include "terminal/frmTerminal.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QString onOff(bool value) {
    return value ? QStringLiteral("on") : QStringLiteral("off");
}

// The connection display in one line.
QString display(const frmTerminal& w) {
    return QStringLiteral("check %1, hang-up %2, front %3, [%4], timer %5")
        .arg(onOff(w.mnuOpen->isChecked()), onOff(w.button("HangUpPhone")->isEnabled()),
             w.frontIndicator()->objectName(), w.panelText("Settings"), onOff(w.Timer1.isActive()));
}

const QString closedDisplay("check off, hang-up off, front imgNotConnected, [設定: ], timer off");
const QString openDisplay("check on, hang-up on, front imgConnected, [設定: 9600,n,8,1], timer on");

// A window on Com1, which the per-user link points at the pty's slave.
struct Rig {
    PtyPair pty;
    SerialCtl serial;
    ScriptedPrompts prompts;
    MemorySettingsStore store;
    SystemClock clock;
    QTemporaryDir logDir;
    std::unique_ptr<frmTerminal> w;

    explicit Rig(const QByteArray& codePage = QByteArray()) {
        pty.pinAsCom1();
        if (!codePage.isEmpty())
            serial.setCodePage(codePage);
        w = std::make_unique<frmTerminal>(&serial, &prompts, &store, &clock);
        w->show();
    }
    bool openPort() {
        w->mnuOpen_Click();
        return serial.PortOpen() && prompts.log.isEmpty();
    }
    QString logPath() const { return logDir.filePath("CAPTURE.LOG"); }
    void openLog() {
        FileDialogResult answer;
        answer.path = logPath();
        answer.fileTitle = "CAPTURE.LOG";
        prompts.fileAnswers = {answer};
        w->mnuOpenLog_Click();
    }
    QString screen() const { return w->txtTerm->Text(); }
    // Reads what the program sent while its event loop runs.
    QByteArray sent(int count, int timeoutMs) {
        QByteArray got;
        QDeadlineTimer deadline(timeoutMs);
        while (got.size() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            got += pty.read(count - int(got.size()), 10);
        }
        return got;
    }
};

} // namespace

class tst_window_pty : public QObject {
    Q_OBJECT
private:
    PortsConfig m_config;

private slots:
    void initTestCase() { QVERIFY(m_config.setUp()); }

    void portToggle() {
        Rig r;
        QVERIFY(r.pty.isValid());
        QCOMPARE(display(*r.w), QString(closedDisplay).replace("[設定: ]", "[設定:]"));
        QVERIFY(r.openPort());
        QCOMPARE(display(*r.w), openDisplay);
        r.w->mnuOpen_Click();
        QVERIFY(!r.serial.PortOpen());
        QCOMPARE(display(*r.w), closedDisplay);
        QCOMPARE(r.prompts.log, QStringList());
    }

    void keysWithEchoOffSendOneLine() {
        Rig r;
        QVERIFY(r.openPort());
        QTest::keyClick(r.w->txtTerm, Qt::Key_A, Qt::NoModifier);
        QTest::keyClick(r.w->txtTerm, Qt::Key_T, Qt::NoModifier);
        // Nothing goes out before Enter.
        QCOMPARE(r.sent(1, 200), QByteArray());
        QTest::keyClick(r.w->txtTerm, Qt::Key_Return, Qt::NoModifier);
        QCOMPARE(r.sent(3, 5000), QByteArray("AT\r"));
        QCOMPARE(r.sent(1, 200), QByteArray());
        QCOMPARE(r.screen(), QString());
        QCOMPARE(r.prompts.log, QStringList());
    }

    void shiftJisSplitAtEveryByte() {
        Rig r("windows-31j");
        QVERIFY(r.openPort());
        r.openLog();
        QVERIFY(r.w->LogFileNumber() != 0);
        // 表 and ソ carry a backslash as their second byte.
        const QString line = QStringLiteral("漢字表示ｶﾀｶﾅｿ ソ表\r\n");
        const QByteArray bytes = encodeText(line, "windows-31j");
        QCOMPARE(decodeText(bytes, "windows-31j"), line);
        QByteArray all;
        QString shown;
        for (int cut = 1; cut < bytes.size(); ++cut) {
            const QByteArray head = bytes.left(cut);
            QStringDecoder decoder("Shift_JIS");
            QString headText = decoder.decode(head);
            if (headText.endsWith(QLatin1Char('\r')))
                headText += QLatin1Char('\n'); // a CR makes the break, its LF adds nothing
            QVERIFY(r.pty.write(head));
            // The head arrives on its own: what it completes is on screen,
            // a trailing lead byte is held back.
            QTRY_COMPARE_WITH_TIMEOUT(r.screen(), shown + headText, 5000);
            QVERIFY(r.pty.write(bytes.mid(cut)));
            shown += line;
            QTRY_COMPARE_WITH_TIMEOUT(r.screen(), shown, 5000);
            all += bytes;
        }
        r.w->mnuCloseLog_Click();
        QFile log(r.logPath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), all);
        QCOMPARE(r.prompts.messageCount(), 0);
    }

    void captureEndToEnd() {
        Rig r;
        QVERIFY(r.openPort());
        QVERIFY(r.pty.write("before\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(r.screen(), QString("before\r\n"), 5000);
        r.openLog();
        QCOMPARE(r.w->windowTitle(), QString("Velmora - CAPTURE.LOG"));
        // Each chunk is on screen before the next is written, so they arrive apart.
        const QList<QPair<QByteArray, QString>> chunks{
            {"ab\rcd\nX\bY\r\n", "before\r\nab\r\ncdY\r\n"},
            {"tail", "before\r\nab\r\ncdY\r\ntail"},
            {"\b\bl!\r\n", "before\r\nab\r\ncdY\r\ntail!\r\n"},
        };
        for (const auto& chunk : chunks) {
            QVERIFY(r.pty.write(chunk.first));
            QTRY_COMPARE_WITH_TIMEOUT(r.screen(), chunk.second, 5000);
        }
        r.w->mnuCloseLog_Click();
        QCOMPARE(r.w->LogFileNumber(), 0);
        QVERIFY(r.pty.write("after\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(r.screen().endsWith("after\r\n"), 5000);
        QFile log(r.logPath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("ab\r\ncdY\r\ntaill!\r\n"));
        QCOMPARE(r.prompts.messageCount(), 0);
    }

    void dtrSwitchOnOpenPort() {
        Rig r;
        QVERIFY(r.openPort());
        // Each switch flips the line and the mark shows the value read back.
        bool values[2] = {};
        for (bool& value : values) {
            const bool before = r.serial.DTREnable();
            r.w->mnuDTREnable->trigger();
            value = r.serial.DTREnable();
            QCOMPARE(value, !before);
            QCOMPARE(r.w->mnuDTREnable->isChecked(), value);
        }
        QCOMPARE(values[1], !values[0]);
        QVERIFY(r.serial.PortOpen());
        QCOMPARE(r.prompts.log, QStringList());
    }

    void lineQueriesOnPty_data() {
        QTest::addColumn<bool>("cts");
        QTest::addColumn<QString>("shown");
        QTest::newRow("CTS") << true << "msg|Velmora|CTSHolding = False|OK|none|0";
        QTest::newRow("DSR") << false << "msg|Velmora|DSRHolding = False|OK|none|0";
    }
    void lineQueriesOnPty() {
        QFETCH(bool, cts);
        QFETCH(QString, shown);
        Rig r;
        QVERIFY(r.openPort());
        cts ? r.w->mnuHCTS_Click() : r.w->mnuHDSR_Click();
        QCOMPARE(r.prompts.log, QStringList{shown});
    }

    void propertiesAgainstPty() {
        Rig r;
        r.serial.setSettings("9600,N,8,1");
        QVERIFY(r.openPort());
        int refreshes = 0;
        frmProperties dialog(r.serial, r.store, r.prompts, r.w->session().LocalEcho,
                             [&] { ++refreshes; });
        QCOMPARE(QStringList({dialog.cboPort->currentText(), dialog.cboSpeed->currentText(),
                              dialog.cboParity->currentText(), dialog.cboDataBits->currentText(),
                              dialog.cboStopBits->currentText()}),
                 QStringList({"Com1", "9600", "None", "8", "1"}));
        QVERIFY(dialog.optFlow[0]->isChecked());
        dialog.cmdOK_Click();
        QCOMPARE(r.prompts.log, QStringList());
        QCOMPARE(r.store.values.value("Velmora/Properties/Settings"), QString("9600,n,8,1"));
        QCOMPARE(r.store.values.value("Velmora/Properties/CommPort"), QString("1"));
        QCOMPARE(r.store.values.value("Velmora/Properties/Handshaking"), QString("0"));
        QVERIFY(r.serial.PortOpen());
    }

    void deviceLoss() {
        Rig r;
        QVERIFY(r.openPort());
        QVERIFY(r.pty.write("kept\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(r.screen(), QString("kept\r\n"), 5000);
        r.pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(r.prompts.messageCount(), 1, 5000);
        QVERIFY(r.prompts.log.first().startsWith("msg|Velmora|"));
        QVERIFY(r.prompts.log.first().endsWith("|OK|exclamation|0"));
        QCOMPARE(display(*r.w), closedDisplay);
        QVERIFY(!r.serial.PortOpen());
        // No second warning follows.
        QTest::qWait(200);
        QCOMPARE(r.prompts.messageCount(), 1);
        QCOMPARE(r.screen(), QString("kept\r\n"));
    }

    // The capture log and the raw log both go on after the device returns;
    // the raw log holds the device's bytes as they were.
    void reconnectWhenTheDeviceReturns() {
        auto r = std::make_unique<Rig>();
        QVERIFY(r->openPort());
        r->openLog();
        FileDialogResult raw;
        raw.path = r->logDir.filePath("RAW.BIN");
        raw.fileTitle = "RAW.BIN";
        r->prompts.fileAnswers = {raw};
        r->w->mnuRawLog->trigger();
        QVERIFY(r->w->mnuRawLog->isChecked());
        QVERIFY(r->pty.write("before\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(r->screen(), QString("before\r\n"), 5000);
        const qint64 firstStart = r->w->ConnectStart;
        PtyPair next;
        QString whileWaiting;
        // The device comes back at the same link while the loss warning is
        // open; the warning closes itself.
        r->prompts.whileMessageOpen = [&] {
            whileWaiting = display(*r->w) + " " + r->w->panelText("ConnectTime");
            next.pinAsCom1();
            QTRY_VERIFY_WITH_TIMEOUT(r->prompts.closedByProgram(r->prompts.lastMessageText()),
                                     10000);
        };
        r->pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(r->prompts.messageCount(), 1, 10000);
        QCOMPARE(whileWaiting, closedDisplay + " 再接続待ち");
        const QString warning = r->prompts.lastMessageText();
        QVERIFY2(warning.contains(QStringLiteral("自動的に接続し直します")), qPrintable(warning));
        QCOMPARE(r->prompts.log.size(), 4); // two log file dialogs, the warning, its closing
        QCOMPARE(r->prompts.log.last(), "closed|" + warning);
        QCOMPARE(display(*r->w), openDisplay);
        QVERIFY(r->w->ConnectStart > firstStart);
        QCOMPARE(r->w->panelText("Status"),
                 QStringLiteral("ｽﾃｰﾀｽ: Com1 に再接続しました (%1)。").arg(next.slavePath()));

        QVERIFY(next.write("after\n\r"));
        QTRY_COMPARE_WITH_TIMEOUT(r->screen(), QString("before\r\nafter\r\n"), 5000);
        QFile rawLog(raw.path);
        QVERIFY(rawLog.open(QIODevice::ReadOnly));
        QCOMPARE(rawLog.readAll(), QByteArray("before\r\nafter\n\r")); // written at once
        r->w->mnuRawLog->trigger();
        QVERIFY(!r->w->mnuRawLog->isChecked());
        r->w->mnuCloseLog_Click();
        QFile log(r->logPath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("before\r\nafter\r\n"));
        QCOMPARE(r->prompts.messageCount(), 1);
    }
};

QTEST_MAIN(tst_window_pty)
#include "tst_window_pty.moc"
