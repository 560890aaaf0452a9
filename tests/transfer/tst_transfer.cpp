// File transfers against Debian's lrzsz playing the device on a pty's master:
// the interop matrix judged by sha256, one run through ser2net, the cancel,
// a ZMODEM start among ordinary text, numbered names, and how a child that
// stays or falls silent is ended.
#include "../datapath/RecordingHost.h"
#include "PortsConfig.h"
#include "PtyPair.h"
#include "ScriptedPrompts.h"
#include "Ser2net.h"
#include "Waiting.h"

#include "datapath/StringTextTarget.h"
#include "platform/Clock.h"
#include "platform/SettingsStore.h"
#include "screen/TerminalView.h"
#include "sending/SendCommands.h"
#include "sending/SerialSendPort.h"
#include "serial/SerialCtl.h"
#include "terminal/frmTerminal.h"
#include "transfer/ReceiveFolder.h"
#include "transfer/TransferController.h"

#include <QAction>
#include <QCryptographicHash>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray sha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "(missing " + path.toLocal8Bit() + ")";
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

void writeRandom(const QString& path, qsizetype size, quint32 seed) {
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char& c : data)
        c = char(random.bounded(256));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

bool runFor(int ms, const std::function<bool()>& done) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(5);
    return done();
}

// lrzsz on the master side of the pty, through socat: lrzsz flushes a tty
// it is given, which on a pty pair would drop what the other side sent.
struct Device {
    QProcess process;
    Device(PtyPair& pty, const QString& dir, const QString& command,
           const QString& before = QString()) {
        const int master = pty.masterFd();
        process.setWorkingDirectory(dir);
        process.setChildProcessModifier([master] {
            ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) & ~O_NONBLOCK);
            ::dup2(master, STDIN_FILENO);
            ::dup2(master, STDOUT_FILENO);
        });
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
             before + QStringLiteral("exec socat -b 65536 STDIO SYSTEM:'%1',pipes").arg(command)});
    }
    ~Device() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(2000);
        }
    }
    bool done() const { return process.state() == QProcess::NotRunning; }
};

// The window's parts around a transfer: the real port on Com1, its session
// and the sending and transfer commands.
struct Rig {
    PtyPair pty;
    SerialCtl serial;
    ScriptedPrompts prompts;
    MemorySettingsStore store;
    SystemClock clock;
    StringTextTarget term;
    RecordingHost host;
    TerminalSession session{term, host, "UTF-8"};
    QWidget window;
    SendCommands send{serial, prompts, store, clock, &window};
    TransferController transfer{serial, prompts, store, send, &window};
    QTemporaryDir dir; // folders "device" and "in", files to send
    QList<TransferJob::Result> results;

    explicit Rig(const QString& target = QString()) {
        PortsConfig::pin(1, target.isEmpty() ? pty.slavePath() : target);
        QDir(dir.path()).mkpath("device");
        store.values.insert("Velmora/Transfer/ReceiveFolder", path("in"));
        QObject::connect(&serial, &ISerialCtl::OnComm, [this] { session.onComm(serial); });
        QObject::connect(&transfer.job(), &TransferJob::finished,
                         [this](const TransferJob::Result& r) { results << r; });
        transfer.attach(session);
        serial.setCommPort(1);
        serial.setRThreshold(1);
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    bool open() { return openFailure(serial) == QLatin1String("(opened)"); }
    void answerFile(const QString& file) {
        FileDialogResult answer;
        answer.path = file;
        prompts.fileAnswers = {answer};
    }
    bool finished(int ms = 30000) {
        return runFor(ms, [this] { return !results.isEmpty(); });
    }
};

} // namespace

class TransferTest : public QObject {
    Q_OBJECT
private:
    PortsConfig m_config;

private slots:
    void initTestCase() {
        if (findTransferProgram("sz").isEmpty())
            QSKIP("lrzsz is not installed (scripts/install-deps.sh)");
        QVERIFY(m_config.setUp());
    }

    void matrix_data() {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<bool>("send");
        QTest::addColumn<int>("size"); // XMODEM pads to its block: whole blocks only
        QTest::addColumn<bool>("remote");
        QTest::addColumn<QString>("device");
        const int z = int(TransferProtocol::Zmodem), y = int(TransferProtocol::Ymodem),
                  x = int(TransferProtocol::Xmodem);
        QTest::newRow("ZMODEM send") << z << true << 300001 << false << "rz -b -y";
        QTest::newRow("ZMODEM receive") << z << false << 300001 << false << "sz -b f.bin";
        QTest::newRow("ZMODEM empty file") << z << true << 0 << false << "rz -b -y";
        QTest::newRow("YMODEM send") << y << true << 70001 << false << "rb -b -y";
        QTest::newRow("YMODEM receive") << y << false << 70001 << false << "sb -b f.bin";
        QTest::newRow("XMODEM send") << x << true << 65536 << false << "rx -b -c f.bin";
        QTest::newRow("XMODEM receive") << x << false << 65536 << false << "sx -b f.bin";
        QTest::newRow("ZMODEM send through ser2net") << z << true << 200000 << true << "rz -b -y";
    }

    // Each file arrives whole on the other side, judged by its sha256; a
    // received file never replaces one of the same name.
    void matrix() {
        QFETCH(int, protocol);
        QFETCH(bool, send);
        QFETCH(int, size);
        QFETCH(bool, remote);
        QFETCH(QString, device);
        PtyPair served;
        std::unique_ptr<Ser2net> server;
        if (remote) {
            if (!Ser2net::installed())
                QSKIP("ser2net is not installed");
            server = std::make_unique<Ser2net>(served.slavePath(), true);
            QVERIFY2(server->start(), qPrintable(server->log()));
        }
        Rig rig(remote ? server->url() : QString());
        PtyPair& line = remote ? served : rig.pty;
        QVERIFY(rig.open());
        const QString source = rig.path(send ? "f.bin" : "device/f.bin");
        writeRandom(source, size, quint32(size));
        // What is already in the folder stays as it is.
        QDir().mkpath(rig.path("in"));
        writeRandom(rig.path("in/f.bin"), 10, 1);
        const QByteArray before = sha256(rig.path("in/f.bin"));

        Device dev(line, rig.path("device"), device);
        const auto kind = TransferProtocol(protocol);
        if (send) {
            rig.answerFile(source);
            rig.transfer.send(kind);
        } else if (kind == TransferProtocol::Xmodem) {
            rig.prompts.inputAnswers = {QStringLiteral("f.bin")};
            rig.transfer.receiveX();
        } else if (kind == TransferProtocol::Zmodem) {
            rig.transfer.receiveZ();
        } else {
            QString error;
            rig.session.setTakeover(&rig.transfer.job());
            QVERIFY(rig.transfer.job().start(kind, TransferDirection::Receive, {}, rig.path("in"),
                                             {}, &error));
        }
        QVERIFY2(rig.finished(), "no end within 30 s");
        QVERIFY(runFor(10000, [&] { return dev.done(); }));
        const TransferJob::Result result = rig.results.first();
        QVERIFY2(result.end == TransferJob::End::Completed, qPrintable(result.detail));
        const QString arrived = send ? rig.path("device/f.bin") : rig.path("in/f (1).bin");
        QCOMPARE(sha256(arrived), sha256(source));
        QCOMPARE(sha256(rig.path("in/f.bin")), before);
        QCOMPARE(result.bytes, qint64(size));
        QCOMPARE(rig.session.takeover(), nullptr);
        QVERIFY2(rig.term.Text().contains(send ? "を送信しました" : "f (1).bin を受信しました"),
                 qPrintable(rig.term.Text()));
        QVERIFY(rig.serial.PortOpen());
    }

    // From the real window's menu: the port stays open and the terminal
    // says how the transfer ended.
    void fromTheWindow() {
        Rig rig; // only its pty, folders and services: the window reads the port
        QObject::disconnect(&rig.serial, &ISerialCtl::OnComm, nullptr, nullptr);
        frmTerminal w(&rig.serial, &rig.prompts, &rig.store, &rig.clock);
        w.show();
        w.mnuOpen_Click();
        QVERIFY(rig.serial.PortOpen());
        writeRandom(rig.path("f.bin"), 100000, 5);
        Device dev(rig.pty, rig.path("device"), "rz -b -y");
        rig.answerFile(rig.path("f.bin"));
        auto* menu = w.findChild<QMenu*>("mnuTransfer");
        QVERIFY(menu);
        QMetaObject::invokeMethod(menu, "aboutToShow");
        w.findChild<QAction*>("mnuSendZ")->trigger();
        QVERIFY(runFor(30000, [&] { return w.txtTerm->Text().contains("を送信しました"); }));
        QCOMPARE(sha256(rig.path("device/f.bin")), sha256(rig.path("f.bin")));
        QVERIFY(rig.serial.PortOpen());
    }

    // A ZMODEM start among boot messages is received without a menu, once
    // that is turned on; the text before it is shown.
    void detectsZmodemStart() {
        Rig rig;
        QVERIFY(rig.open());
        rig.transfer.mnuAutoZ->trigger();
        writeRandom(rig.path("device/fw.bin"), 100000, 7);
        Device dev(rig.pty, rig.path("device"), "sz -b fw.bin",
                   "printf 'U-Boot 2024.01\\r\\n**x B00 not a start\\r\\n'; sleep 0.2; ");
        QVERIFY2(rig.finished(), "no end within 30 s");
        QCOMPARE(int(rig.results.first().end), int(TransferJob::End::Completed));
        QCOMPARE(sha256(rig.path("in/fw.bin")), sha256(rig.path("device/fw.bin")));
        QVERIFY(rig.term.Text().startsWith("U-Boot 2024.01\r\n**x B00 not a start\r\n"));
        QCOMPARE(rig.store.values.value("Velmora/Transfer/AutoZmodem"), "1");
    }

    // A stop ends the child at once, sends the device CAN x5 and leaves the
    // line to the terminal; a real receiver gives up on it.
    void cancel() {
        Rig rig;
        QVERIFY(rig.open());
        writeRandom(rig.path("big.bin"), 32 << 20, 3);
        Device dev(rig.pty, rig.path("device"), "rz -b -y");
        rig.answerFile(rig.path("big.bin"));
        QSignalSpy progress(&rig.transfer.job(), &TransferJob::progress);
        rig.transfer.send(TransferProtocol::Zmodem);
        QVERIFY(runFor(
            10000, [&] { return !progress.isEmpty() && progress.last().at(1).toLongLong() > 0; }));
        rig.transfer.cmdTransferStop->click();
        QVERIFY(rig.finished(5000));
        QCOMPARE(int(rig.results.first().end), int(TransferJob::End::Cancelled));
        QVERIFY(runFor(10000, [&] { return dev.done(); }));
        QVERIFY(dev.process.exitCode() != 0);
        QVERIFY(rig.term.Text().contains("[ZMODEMの送信を中止しました]"));
        QCOMPARE(rig.session.takeover(), nullptr);
        QVERIFY(rig.serial.PortOpen());
    }

    void cancelSendsCan() {
        Rig rig;
        QVERIFY(rig.open());
        writeRandom(rig.path("f.bin"), 1000, 3);
        rig.answerFile(rig.path("f.bin"));
        rig.transfer.send(TransferProtocol::Zmodem);
        QVERIFY(rig.transfer.busy());
        QByteArray start;
        runFor(5000, [&] { return (start += rig.pty.read(64, 5)).contains("B00"); });
        rig.transfer.stop();
        QVERIFY(rig.finished(5000));
        QVERIFY(runFor(5000, [&] {
            return (start += rig.pty.read(64, 5)).endsWith(TransferJob::cancelBytes);
        }));
    }

    // How a child that outstays its transfer is ended, judged by what it said.
    void childEndings_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("detail");
        const QString start =
            "echo 'Sending f.bin, 1 blocks: Give your local XMODEM receive command now.' >&2;"
            "printf '\\rXmodem sectors/kbytes sent:   0/ 0k' >&2;"
            "dd bs=1 count=1 of=/dev/null 2>/dev/null; head -c 133 /dev/zero;"
            "dd bs=1 count=1 of=/dev/null 2>/dev/null;"; // NAK, block, ACK as sx waits for them
        QTest::newRow("sx stays after its EOT")
            << start + "printf '\\004'; exec sleep 60" << int(TransferJob::End::Completed) << "";
        QTest::newRow("sx stays after saying it is done")
            << start + "echo >&2; echo 'Transfer complete' >&2; exec sleep 60"
            << int(TransferJob::End::Completed) << "";
        QTest::newRow("silent mid-transfer")
            << "head -c 3 /dev/zero; echo 'Retry 0: Timeout' >&2; exec sleep 60"
            << int(TransferJob::End::Failed) << "1 秒間応答がありません";
        QTest::newRow("exits with an error")
            << "echo 'sx: cannot open f.bin: No such file' >&2; exit 1"
            << int(TransferJob::End::Failed) << "sx: cannot open f.bin: No such file";
    }
    void childEndings() {
        QFETCH(QString, script);
        QFETCH(int, end);
        QFETCH(QString, detail);
        QTemporaryDir bin;
        QFile fake(bin.filePath("sx"));
        QVERIFY(fake.open(QIODevice::WriteOnly));
        fake.write("#!/bin/sh\n" + script.toUtf8() + "\n");
        fake.close();
        fake.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit() + ":" + path);

        Rig rig;
        QVERIFY(rig.open());
        rig.transfer.job().idleLimitMs = 1000;
        rig.answerFile(rig.path("f.bin"));
        writeRandom(rig.path("f.bin"), 128, 1);
        rig.transfer.send(TransferProtocol::Xmodem);
        rig.pty.write("\x15"); // the receiver's NAK: data went both ways
        QByteArray block;
        runFor(5000, [&] {
            return (block += rig.pty.read(256, 5)).size() >= 133 || !rig.transfer.busy();
        });
        if (block.size() >= 133)
            rig.pty.write("\x06"); // after the block, so the EOT follows it alone, as with sx
        const bool ended = rig.finished(10000);
        qputenv("PATH", path);
        QVERIFY(ended);
        QCOMPARE(int(rig.results.first().end), end);
        QCOMPARE(rig.results.first().detail, detail);
    }

    void freeNames_data() {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("free") << QStringList{} << "a.bin"
                              << "a.bin";
        QTest::newRow("taken") << QStringList{"a.bin"} << "a.bin"
                               << "a (1).bin";
        QTest::newRow("numbers taken too")
            << QStringList{"a.bin", "a (1).bin", "a (2).bin"} << "a.bin"
            << "a (3).bin";
        QTest::newRow("double extension") << QStringList{"fw.tar.gz"} << "fw.tar.gz"
                                          << "fw (1).tar.gz";
        QTest::newRow("dot file") << QStringList{".config"} << ".config"
                                  << ".config (1)";
        QTest::newRow("no extension") << QStringList{"log"} << "log"
                                      << "log (1)";
    }
    void freeNames() {
        QFETCH(QStringList, present);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        for (const QString& file : present) {
            QFile f(dir.filePath(file));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QCOMPARE(freeName(dir.path(), name), expected);
    }

    // Without lrzsz the items are off and say what to install.
    void withoutLrzsz() {
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        Rig rig;
        QVERIFY(rig.open());
        rig.transfer.refresh();
        qputenv("PATH", path);
        QVERIFY(!rig.transfer.mnuSendZ->isEnabled());
        QVERIFY(rig.transfer.mnuReceiveX->toolTip().contains("lrzsz"));
    }
};

QTEST_MAIN(TransferTest)
#include "tst_transfer.moc"
