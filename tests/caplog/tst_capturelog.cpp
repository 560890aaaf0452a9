#include "caplog/CaptureLog.h"
#include "platform/SystemError.h"

#include "ScriptedPrompts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <sys/stat.h>

namespace {

FileDialogResult chosen(const QString& path) {
    FileDialogResult result;
    result.path = path;
    result.fileTitle = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return result;
}

FileDialogResult cancelled() {
    FileDialogResult result;
    result.cancelled = true;
    return result;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QString overwriteQuestion(const QString& path) {
    return QStringLiteral("msg|Velmora|既存のﾌｧｲﾙ - %1を上書きしますか ?|YesNoCancel|question|%2")
        .arg(path)
        .arg(int(AnswerYes));
}

QString warning(const QString& text) {
    return QStringLiteral("msg|Velmora|%1|OK|exclamation|0").arg(text);
}

const QString kDialog = QStringLiteral("file|通信ﾛｸﾞ ﾌｧｲﾙを開く");

// The real file system, with a delete or a lookup that fails on demand.
class FailingFiles : public LogFileSystem {
public:
    QString lookupFailure, removeFailure;
    QStringList removed;
    bool regularFileExists(const QString& path, QString* error) override {
        if (!lookupFailure.isEmpty()) {
            *error = lookupFailure;
            return false;
        }
        return realLogFileSystem().regularFileExists(path, error);
    }
    bool removeFile(const QString& path, QString* error) override {
        if (!removeFailure.isEmpty()) {
            *error = removeFailure;
            return false;
        }
        removed << path;
        return realLogFileSystem().removeFile(path, error);
    }
};

} // namespace

class tst_capturelog : public QObject {
    Q_OBJECT
private slots:
    void init();
    void newFileOpensWithoutQuestion_data();
    void newFileOpensWithoutQuestion();
    void existingFileAnswer_data();
    void existingFileAnswer();
    void cancelAtQuestionShowsDialogAgain();
    void cancellingFirstDialogShowsNothing();
    void failureLeavesNoLog_data();
    void failureLeavesNoLog();
    void deleteFailureKeepsFile();
    void lookupFailureAsksNothing();
    void fifoWithoutReaderDoesNotHang();
    void writeFailureIsReported();
    void handlesAndClose();

private:
    void checkDialogSetups(const ScriptedPrompts& prompts, int showings);
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
};

void tst_capturelog::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_capturelog::checkDialogSetups(const ScriptedPrompts& prompts, int showings) {
    QCOMPARE(prompts.fileSetups.size(), showings);
    for (const FileDialogSetup& setup : prompts.fileSetups) {
        QCOMPARE(setup.title, QStringLiteral("通信ﾛｸﾞ ﾌｧｲﾙを開く"));
        QCOMPARE(setup.filters, QStringList({QStringLiteral("ﾛｸﾞ ﾌｧｲﾙ (*.LOG) (*.log *.LOG)"),
                                             QStringLiteral("すべてのﾌｧｲﾙ (*.*) (*)")}));
        QCOMPARE(setup.selectedFilter, 0);
        QCOMPARE(setup.defaultSuffix, QStringLiteral("LOG"));
        QVERIFY(setup.fileName.isEmpty());
    }
}

void tst_capturelog::newFileOpensWithoutQuestion_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("created");
    QTest::newRow("name with extension") << "new.log"
                                         << "new.log";
    QTest::newRow("no extension gets .LOG") << "capture"
                                            << "capture.LOG";
    QTest::newRow("other extension kept") << "capture.txt"
                                          << "capture.txt";
}

void tst_capturelog::newFileOpensWithoutQuestion() {
    QFETCH(QString, typed);
    QFETCH(QString, created);
    ScriptedPrompts prompts;
    prompts.fileAnswers << chosen(path(typed));
    CaptureLog log;

    QCOMPARE(runOpenLogCommand(prompts, log), created);
    QCOMPARE(prompts.log, QStringList{kDialog});
    checkDialogSetups(prompts, 1);
    QVERIFY(log.LogFileNumber() != 0);
    QCOMPARE(contents(path(created)), QByteArray());
    if (typed != created)
        QVERIFY(!QFile::exists(path(typed)));

    QString error;
    QVERIFY(log.write("AT\r\n", &error));
    QCOMPARE(contents(path(created)), QByteArray("AT\r\n"));
}

void tst_capturelog::existingFileAnswer_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("No appends after the last byte")
        << int(AnswerNo) << "old.log" << QByteArray("old\r\nline\0x\r\nnew", 16);
    QTest::newRow("Yes starts empty") << int(AnswerYes) << "old.log" << QByteArray("new");
    QTest::newRow("typed without extension finds .LOG")
        << int(AnswerNo) << "old" << QByteArray("old\r\nline\0x\r\nnew", 16);
}

void tst_capturelog::existingFileAnswer() {
    QFETCH(int, answer);
    QFETCH(QString, typed);
    QFETCH(QByteArray, expected);
    const QString existing = typed.contains(QLatin1Char('.')) ? path(typed) : path(typed + ".LOG");
    writeFile(existing, QByteArray("old\r\nline\0x\r\n", 13));
    ScriptedPrompts prompts;
    prompts.fileAnswers << chosen(path(typed));
    prompts.messageAnswers << answer;
    CaptureLog log;

    QCOMPARE(runOpenLogCommand(prompts, log), QFileInfo(existing).fileName());
    QCOMPARE(prompts.log, QStringList({kDialog, overwriteQuestion(existing)}));
    QVERIFY(log.LogFileNumber() != 0);
    QString error;
    QVERIFY(log.write("new", &error));
    QCOMPARE(contents(existing), expected);
}

void tst_capturelog::cancelAtQuestionShowsDialogAgain() {
    const QString existing = path("keep.log");
    writeFile(existing, "kept");
    ScriptedPrompts prompts;
    prompts.fileAnswers << chosen(existing) << cancelled();
    prompts.messageAnswers << AnswerCancel;
    CaptureLog log;

    QCOMPARE(runOpenLogCommand(prompts, log), QString());
    QCOMPARE(prompts.log, QStringList({kDialog, overwriteQuestion(existing), kDialog}));
    checkDialogSetups(prompts, 2);
    QCOMPARE(log.LogFileNumber(), qint16(0));
    QCOMPARE(contents(existing), QByteArray("kept"));
}

void tst_capturelog::cancellingFirstDialogShowsNothing() {
    ScriptedPrompts prompts;
    prompts.fileAnswers << cancelled();
    CaptureLog log;

    QCOMPARE(runOpenLogCommand(prompts, log), QString());
    QCOMPARE(prompts.log, QStringList{kDialog});
    QCOMPARE(prompts.messageCount(), 0);
    QCOMPARE(log.LogFileNumber(), qint16(0));
}

void tst_capturelog::failureLeavesNoLog_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder chosen") << "folder" << describeErrno(EISDIR);
    QTest::newRow("folder with a dot chosen") << "logs.d" << describeErrno(EISDIR);
    QTest::newRow("missing folder on the way") << "nowhere/x.log" << describeErrno(ENOENT);
}

void tst_capturelog::failureLeavesNoLog() {
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QVERIFY(QDir(m_dir->path()).mkdir("folder"));
    QVERIFY(QDir(m_dir->path()).mkdir("logs.d"));
    ScriptedPrompts prompts;
    prompts.fileAnswers << chosen(path(name));
    CaptureLog log;

    QCOMPARE(runOpenLogCommand(prompts, log), QString());
    // A folder is not an existing file: no question, the open says what it is.
    QCOMPARE(
        prompts.log,
        QStringList({kDialog, warning(path(name) + QStringLiteral(" を開けません: ") + reason)}));
    QCOMPARE(log.LogFileNumber(), qint16(0));
    QString error;
    QVERIFY(!log.write("lost?", &error));
    QVERIFY(!error.isEmpty());
}

void tst_capturelog::deleteFailureKeepsFile() {
    const QString existing = path("locked.log");
    writeFile(existing, "precious");
    FailingFiles files;
    files.removeFailure = existing + QStringLiteral(" を削除できません: ") + describeErrno(EPERM);
    ScriptedPrompts prompts;
    prompts.fileAnswers << chosen(existing);
    prompts.messageAnswers << AnswerYes;
    CaptureLog log;

    QCOMPARE(runOpenLogCommand(prompts, log, files), QString());
    QCOMPARE(prompts.log,
             QStringList({kDialog, overwriteQuestion(existing), warning(files.removeFailure)}));
    QCOMPARE(log.LogFileNumber(), qint16(0));
    QCOMPARE(contents(existing), QByteArray("precious"));
}

void tst_capturelog::lookupFailureAsksNothing() {
    const QString existing = path("hidden.log");
    writeFile(existing, "old");
    FailingFiles files;
    files.lookupFailure = QStringLiteral("lookup failed");
    ScriptedPrompts prompts;
    prompts.fileAnswers << chosen(existing);
    CaptureLog log;

    QCOMPARE(runOpenLogCommand(prompts, log, files), QString());
    QCOMPARE(prompts.log, QStringList({kDialog, warning("lookup failed")}));
    QVERIFY(files.removed.isEmpty());
    QCOMPARE(log.LogFileNumber(), qint16(0));
    QCOMPARE(contents(existing), QByteArray("old"));
}

// A pipe nobody reads would block the open for good.
void tst_capturelog::fifoWithoutReaderDoesNotHang() {
    const QString fifo = path("pipe.log");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ScriptedPrompts prompts;
    prompts.fileAnswers << chosen(fifo);
    CaptureLog log;

    QCOMPARE(runOpenLogCommand(prompts, log), QString());
    QCOMPARE(prompts.log, QStringList({kDialog, warning(fifo + QStringLiteral(" を開けません: ") +
                                                        describeErrno(ENXIO))}));
    QCOMPARE(log.LogFileNumber(), qint16(0));
}

void tst_capturelog::writeFailureIsReported() {
    CaptureLog log;
    QString error;
    if (!log.open(QStringLiteral("/dev/full"), &error))
        QSKIP("no /dev/full here");
    QVERIFY(!log.write("data", &error));
    QCOMPARE(error, QStringLiteral("/dev/full に書き込めません: ") + describeErrno(ENOSPC));
    // Nothing to write is no failure.
    QVERIFY(log.write(QByteArray(), &error));
}

void tst_capturelog::handlesAndClose() {
    CaptureLog log;
    QString error;
    QVERIFY(log.open(path("a.log"), &error));
    const qint16 first = log.LogFileNumber();
    QVERIFY(first != 0);
    log.close();
    QCOMPARE(log.LogFileNumber(), qint16(0));
    log.close();
    QCOMPARE(log.LogFileNumber(), qint16(0));
    QVERIFY(!log.write("after close", &error));
    QCOMPARE(contents(path("a.log")), QByteArray());

    QVERIFY(log.open(path("a.log"), &error));
    QVERIFY(log.LogFileNumber() != 0);
    QVERIFY(log.LogFileNumber() != first);
    const QByteArray big(1 << 20, 'x');
    QVERIFY(log.write(big, &error));
    QVERIFY(log.write("end", &error));
    QCOMPARE(contents(path("a.log")), big + "end");
}

QTEST_APPLESS_MAIN(tst_capturelog)
#include "tst_capturelog.moc"
