#include "ScriptedPrompts.h"
#include "TestSerial.h"
#include "platform/Clock.h"
#include "platform/SettingsStore.h"
#include "sending/SendCommands.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>
#include <sys/stat.h>

// The port menu's sending items over the real component and a scripted driver.
class tst_sendcommands : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void hexInput();
    void rtsItem_data();
    void rtsItem();
    void stopping_data();
    void stopping();
    void notAFile_data();
    void notAFile();

private:
    std::unique_ptr<TestSerial> serial;
    std::unique_ptr<QWidget> window;
    ScriptedPrompts prompts;
    MemorySettingsStore store;
    SystemClock clock;
    SendCommands* commands = nullptr;
};

void tst_sendcommands::init() {
    serial = std::make_unique<TestSerial>();
    window = std::make_unique<QWidget>();
    prompts.clear();
    commands = new SendCommands(*serial, prompts, store, clock, window.get());
    serial->setPortOpen(true);
    commands->refresh();
}

void tst_sendcommands::cleanup() {
    window.reset();
    serial.reset();
}

// A refusal names the first bad character and sends nothing; the text comes
// back for mending, and what is sent then goes out unchanged.
void tst_sendcommands::hexInput() {
    prompts.inputAnswers = {QStringLiteral("61 0g"), QStringLiteral("61 0d ff"), std::nullopt};
    commands->mnuSendHex->trigger();
    QTRY_COMPARE(serial->line.written, QByteArray("a\r\xff"));
    QCOMPARE(prompts.log.size(), 3);
    QVERIFY(prompts.log[1].contains(QStringLiteral("5 文字目の「g」")));
    QVERIFY(prompts.log[2].endsWith(QStringLiteral("|61 0g")));
}

void tst_sendcommands::rtsItem_data() {
    QTest::addColumn<int>("handshaking");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("none") << 0 << true;
    QTest::newRow("Xon/Xoff") << 1 << true;
    QTest::newRow("RTS/CTS: the driver's") << 2 << false;
    QTest::newRow("both: the driver's") << 3 << false;
}

// A lowered RTS is lowered again at every open where the flow control leaves it to us.
void tst_sendcommands::rtsItem() {
    QFETCH(int, handshaking);
    QFETCH(bool, enabled);
    serial->line.hasModemLines = true;
    serial->setHandshaking(handshaking);
    commands->refresh();
    QCOMPARE(commands->mnuRTS->isEnabled(), enabled);
    QVERIFY(commands->mnuRTS->isChecked());
    serial->setRTSEnable(false);
    serial->line.calls.clear();
    serial->setPortOpen(false);
    serial->setPortOpen(true);
    QCOMPARE(serial->line.calls.contains(QStringLiteral("rts 0")), enabled);
    QVERIFY(!commands->mnuRTS->isChecked());
}

void tst_sendcommands::stopping_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("said"); // the end's text, or the box's
    QTest::newRow("Esc") << "esc" << qint64(100000) << "の送信を中止しました (1000 / 100000 ﾊﾞｲﾄ)";
    QTest::newRow("stop button") << "button" << qint64(100000)
                                 << "の送信を中止しました (1000 / 100000 ﾊﾞｲﾄ)";
    QTest::newRow("port closed") << "close" << qint64(100000)
                                 << "の送信はﾎﾟｰﾄが閉じて終わりました (1000 / 100000 ﾊﾞｲﾄ)。";
    QTest::newRow("5 GiB file: read as the line takes it")
        << "button" << (qint64(5) << 30) << "の送信を中止しました (1000 / 5368709120 ﾊﾞｲﾄ)";
}

// The device holds the line after 1000 bytes; the send ends, says how far it
// got, and nothing more goes out once the device lets go.
void tst_sendcommands::stopping() {
    QFETCH(QString, how);
    QFETCH(qint64, size);
    QFETCH(QString, said);
    QTemporaryFile file;
    QVERIFY(file.open());
    QVERIFY(file.resize(size)); // sparse: no disk is used
    file.close();
    FileDialogResult chosen;
    chosen.path = file.fileName();
    prompts.fileAnswers = {chosen};
    serial->line.acceptTotal = 1000;
    commands->mnuSendFile->trigger();
    QTRY_COMPARE(commands->sent(), 1000);
    QVERIFY(commands->busy());
    if (how == QLatin1String("esc"))
        QTest::keyClick(window.get(), Qt::Key_Escape);
    else if (how == QLatin1String("button"))
        commands->cmdStop->click();
    else
        serial->setPortOpen(false);
    QVERIFY(!commands->busy());
    serial->line.acceptTotal = -1;
    serial->settle();
    QCOMPARE(serial->line.written.size(), 1000);
    if (how == QLatin1String("close"))
        QVERIFY2(prompts.lastMessageText().endsWith(said), qPrintable(prompts.lastMessageText()));
    else
        QVERIFY2(commands->lblSend->text().endsWith(said), qPrintable(commands->lblSend->text()));
}

// What has no end to read up to is refused by name, before anything waits on it.
void tst_sendcommands::notAFile_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("FIFO without a writer") << "fifo";
    QTest::newRow("endless device") << "/dev/zero";
}

void tst_sendcommands::notAFile() {
    QFETCH(QString, path);
    QTemporaryDir dir;
    if (path == QLatin1String("fifo")) {
        path = dir.filePath(path);
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    FileDialogResult chosen;
    chosen.path = path;
    prompts.fileAnswers = {chosen};
    commands->mnuSendFile->trigger();
    QVERIFY(!commands->busy());
    QVERIFY2(prompts.lastMessageText() == path + " は通常のﾌｧｲﾙではないため送信できません。",
             qPrintable(prompts.lastMessageText()));
}

QTEST_MAIN(tst_sendcommands)
#include "tst_sendcommands.moc"
