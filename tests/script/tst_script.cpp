// Scripts against a device played on a pty: the runner under the real serial
// component and data path, the window's menu, and the program run headless.
#include "../datapath/RecordingHost.h"
#include "PortsConfig.h"
#include "PtyPair.h"
#include "ScriptedPrompts.h"
#include "Waiting.h"

#include "datapath/StringTextTarget.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/SettingsStore.h"
#include "script/ScriptCommands.h"
#include "script/ScriptRunner.h"
#include "terminal/frmTerminal.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

namespace {

// Answers what the program sends: when the bytes received so far end with a
// step's trigger, its reply goes out ("" replies at the start; "HANGUP" hangs
// the line up).
struct Device {
    PtyPair pty;
    QList<QPair<QByteArray, QByteArray>> steps;
    QByteArray received;
    std::unique_ptr<QSocketNotifier> notifier;

    void start() {
        notifier = std::make_unique<QSocketNotifier>(pty.masterFd(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] {
            char buffer[512];
            const ssize_t n = ::read(pty.masterFd(), buffer, sizeof buffer);
            if (n <= 0)
                return;
            received.append(buffer, n);
            answer();
        });
        answer();
    }
    void answer() {
        while (!steps.isEmpty() && received.endsWith(steps.first().first)) {
            const QByteArray reply = steps.takeFirst().second;
            if (reply == "HANGUP") {
                // Called from the notifier's own signal.
                notifier->setEnabled(false);
                notifier.release()->deleteLater();
                pty.closeMaster();
                return;
            }
            pty.write(reply);
        }
    }
};

QString writeScript(const QTemporaryDir& dir, const QByteArray& source) {
    const QString path = dir.filePath("t.lua");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(source) < 0)
        return QString();
    return path;
}

class Printed : public ScriptOutput {
public:
    QStringList lines;
    void print(const QString& text) override { lines << text; }
    void log(const QString& text) override { lines << "log:" + text; }
};

using Steps = QList<QPair<QByteArray, QByteArray>>;

} // namespace

class tst_script : public QObject {
    Q_OBJECT
private:
    PortsConfig m_config;

private slots:
    void initTestCase() { QVERIFY(m_config.setUp()); }

    void againstDevice_data() {
        QTest::addColumn<QByteArray>("codePage");
        QTest::addColumn<QString>("view"); // "", "hex", "escapes" or "transfer"
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QString>("end"); // kind:status:message start
        QTest::addColumn<QByteArray>("deviceGot");
        QTest::addColumn<QStringList>("printed");

        const QByteArray login = "expect('ﾛｸﾞｲﾝ:')\nsendln('root')\nexpect('# ')\n"
                                 "sendln('echo 日本')\nlocal out = expect('# ')\n"
                                 "print(out:find('日本', 1, true) ~= nil)\nlog('ok')\n";
        QTest::newRow("shift-jis login")
            << ShiftJisCodePage << "" << login
            << Steps{{"", "\r\n" + encodeText("ﾛｸﾞｲﾝ: ", ShiftJisCodePage)},
                     {"root\r", "\r\n# "},
                     {encodeText("日本\r", ShiftJisCodePage),
                      encodeText("\r\n日本\r\n# ", ShiftJisCodePage)}}
            << "0:0:"
            << "root\r" + encodeText("echo 日本\r", ShiftJisCodePage)
            << QStringList{"true", "log:ok"};
        QTest::newRow("timeouts give nil, silence true")
            << Utf8CodePage << ""
            << QByteArray("print(expect('never', 30))\n"
                          "print(expect_re('n(e)ver', 0))\n"
                          "print(wait_silence(20, 500))\nsleep(5)\n")
            << Steps{} << "0:0:" << QByteArray() << QStringList{"nil", "nil", "true"};
        QTest::newRow("text after a match waits for the next")
            << Utf8CodePage << ""
            << QByteArray("send('go')\nexpect('too')\nprint(expect('early', 0))\n")
            << Steps{{"go", "too early"}} << "0:0:" << QByteArray("go") << QStringList{" early"};
        QTest::newRow("regex captures, in hex view")
            << Utf8CodePage << "hex"
            << QByteArray("send('go')\nprint(expect_re('t=(\\\\d+)\\\\.(\\\\d)(x)?C'))\n")
            << Steps{{"go", "junk t=23.5C\r\n"}} << "0:0:" << QByteArray("go")
            << QStringList{"t=23.5C\t23\t5\tnil"};
        QTest::newRow("escapes taken out before matching")
            << Utf8CodePage << "escapes" << QByteArray("send('go')\nprint(expect('AB', 2000))\n")
            << Steps{{"go", "\x1b[1mA\x1b[0mB"}} << "0:0:" << QByteArray("go") << QStringList{"AB"};
        QTest::newRow("error names file and line")
            << Utf8CodePage << "" << QByteArray("sleep(1)\n\nerror('boom')\n") << Steps{}
            << "1:1:t.lua:3: boom" << QByteArray() << QStringList{};
        QTest::newRow("bad hex is an error at its line")
            << Utf8CodePage << "" << QByteArray("send('a')\nsendhex('41 4G')\n") << Steps{}
            << "1:1:t.lua:2: " << QByteArray("a") << QStringList{};
        QTest::newRow("a script that eats memory fails, the program stays")
            << Utf8CodePage << ""
            << QByteArray("local t = {}\nwhile true do t[#t + 1] = ('x'):rep(1000000) .. #t end\n")
            << Steps{} << "1:1:t.lua: not enough memory" << QByteArray() << QStringList{};
        QTest::newRow("no sending while a transfer holds the line")
            << Utf8CodePage << "transfer" << QByteArray("print('x')\nsend('a')\n") << Steps{}
            << "1:1:t.lua:2: ﾌｧｲﾙ転送中" << QByteArray() << QStringList{"x"};
        QTest::newRow("exit(n) ends it there")
            << Utf8CodePage << "" << QByteArray("send('a')\nexit(3)\nsend('b')\n") << Steps{}
            << "0:3:" << QByteArray("a") << QStringList{};
        QTest::newRow("os.exit ends the script only")
            << Utf8CodePage << "" << QByteArray("pcall(os.exit, false)\nsend('b')\n") << Steps{}
            << "0:1:" << QByteArray() << QStringList{};
        QTest::newRow("port lost under a waiting script")
            << Utf8CodePage << "" << QByteArray("send('x')\nexpect('never', 10000)\nsend('y')\n")
            << Steps{{"x", "HANGUP"}} << "3:0:" << QByteArray("x") << QStringList{};
        QTest::newRow("busy loop leaves the event loop running")
            << Utf8CodePage << ""
            << QByteArray("local t = os.clock()\nwhile os.clock() - t < 0.1 do end\n"
                          "print(expect('late', 2000))\n")
            << Steps{{"", "late"}} << "0:0:" << QByteArray() << QStringList{"late"};
    }

    void againstDevice() {
        QFETCH(QByteArray, codePage);
        QFETCH(QString, view);
        QFETCH(QByteArray, script);
        QFETCH(Steps, steps);
        QFETCH(QString, end);
        QFETCH(QByteArray, deviceGot);
        QFETCH(QStringList, printed);

        QTemporaryDir dir;
        Device device;
        device.steps = steps;
        device.pty.pinAsCom1();
        SerialCtl serial;
        serial.setCodePage(codePage);
        RecordingHost host;
        StringTextTarget screen;
        TerminalSession session(screen, host, codePage);
        session.setHexView(view == "hex");
        session.setInterpretEscapes(view == "escapes");
        ReceiveTakeover transfer;
        if (view == "transfer")
            session.setTakeover(&transfer);
        QObject::connect(&serial, &ISerialCtl::OnComm, [&] { session.onComm(serial); });
        QObject::connect(&serial, &ISerialCtl::PortClosed, [&] { session.portClosed(serial); });
        QCOMPARE(openFailure(serial), QString("(opened)"));

        Printed output;
        ScriptRunner runner(serial, output);
        std::optional<ScriptEnd> ended;
        connect(&runner, &ScriptRunner::ended, [&](const ScriptEnd& e) { ended = e; });
        QString error;
        QVERIFY2(runner.load(writeScript(dir, script), &error), qPrintable(error));
        // Whether an event ran before the script printed anything.
        bool eventBeforeOutput = false;
        QTimer::singleShot(0, [&] { eventBeforeOutput = output.lines.isEmpty(); });
        runner.run(session);
        device.start();
        QVERIFY(loopUntil([&] { return ended.has_value(); }));
        QVERIFY(!runner.running());
        QVERIFY(QString("%1:%2:%3")
                    .arg(ended->kind)
                    .arg(ended->status)
                    .arg(ended->message)
                    .startsWith(end));
        QCOMPARE(output.lines, printed);
        if (QByteArray(QTest::currentDataTag()).startsWith("busy"))
            QVERIFY(eventBeforeOutput);
        QTest::qWait(20);
        QCOMPARE(device.received, deviceGot);
        // Nothing was taken from what the screen shows.
        if (view.isEmpty() && !steps.isEmpty() && steps.first().second != "HANGUP")
            QVERIFY(!screen.Text().isEmpty());
    }

    // The menu's dialog, the status while running, an error
    // through the warning box, and 中止.
    void fromTheWindow() {
        QTemporaryDir dir;
        Device device;
        device.pty.pinAsCom1();
        SerialCtl serial;
        ScriptedPrompts prompts;
        MemorySettingsStore store;
        SystemClock clock;
        frmTerminal w(&serial, &prompts, &store, &clock);
        w.show();
        auto* commands = w.findChild<ScriptCommands*>();
        QVERIFY(commands);
        commands->refresh();
        QVERIFY(!commands->mnuScriptRun->isEnabled()); // the port is closed

        w.mnuOpen_Click();
        QVERIFY(serial.PortOpen());
        FileDialogResult chosen;
        chosen.path = writeScript(dir, "expect('never', 60000)\n");
        prompts.fileAnswers = {chosen};
        emit commands->mnuScript->aboutToShow();
        commands->mnuScriptRun->trigger();
        QCOMPARE(prompts.log, QStringList{"file|ｽｸﾘﾌﾟﾄを実行"});
        QCOMPARE(prompts.fileSetups.first().filters.first(), QString("ｽｸﾘﾌﾟﾄ (*.lua)"));
        QVERIFY(commands->runner().running());
        QVERIFY(commands->fraScript->isVisible());
        QCOMPARE(commands->lblScript->text(), QString("t.lua"));
        commands->refresh();
        QVERIFY(!commands->mnuScriptRun->isEnabled());
        commands->cmdScriptStop->click();
        QVERIFY(loopUntil([&] { return commands->fraScript->isHidden(); }));
        QCOMPARE(prompts.messageCount(), 0);

        commands->runFile(writeScript(dir, "print('x')\nlocal t = nil\nt.f = 1\n"));
        QVERIFY(loopUntil([&] { return prompts.messageCount() == 1; }));
        QVERIFY(prompts.lastMessageText().startsWith("t.lua:3: "));
        QVERIFY(prompts.lastIcon() == MsgIcon::Exclamation);
    }

    // velmora --run with no display: what each way of ending returns.
    void headless_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("ends: 0, received text on stdout")
            << QByteArray("sendln('go')\nexpect('hello')\nprint('done')\n")
            << QStringList{"--port", "1"} << 0 << "hello\ndone\n"
            << "";
        QTest::newRow("error: 1 with FILE:LINE")
            << QByteArray("\nerror('bad')\n") << QStringList{} << 1 << ""
            << "t.lua:2: bad\n";
        QTest::newRow("port missing: 2 with the open's message")
            << QByteArray("exit(9)\n") << QStringList{"--port", "16"} << 2 << ""
            << "Com16 を開けません";
        QTest::newRow("exit(n): n") << QByteArray("exit(42)\n") << QStringList{} << 42 << ""
                                    << "";
        QTest::newRow("SIGTERM: 143, the port closed")
            << QByteArray("sendln('go')\nexpect('never', 60000)\n") << QStringList{} << 143 << ""
            << "";
    }

    void headless() {
        QFETCH(QByteArray, script);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QTemporaryDir dir;
        PtyPair pty;
        pty.pinAsCom1();
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        run.setProcessEnvironment(env);
        run.start(VELMORA_PROGRAM, QStringList{"--run", writeScript(dir, script)} + arguments);
        QVERIFY(run.waitForStarted());
        if (script.startsWith("sendln")) {
            QCOMPARE(pty.readUntil("go\r"), QByteArray("go\r"));
            if (status == 143)
                run.terminate();
            else
                pty.write("hello\r\n");
        }
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), status);
        QCOMPARE(QString::fromUtf8(run.readAllStandardOutput()).replace("\r", ""), out);
        const QString stderrText = QString::fromUtf8(run.readAllStandardError());
        QVERIFY2(err.isEmpty() ? stderrText.isEmpty() : stderrText.startsWith(err),
                 qPrintable(stderrText));
        // The port was closed, its lock with it: it opens again at once.
        SerialCtl serial;
        if (status != 2)
            QCOMPARE(openFailure(serial), QString("(opened)"));
    }
};

QTEST_MAIN(tst_script)
#include "tst_script.moc"
