#include "caplog/CaptureLog.h"
#include "platform/SystemError.h"

#include "ScriptedPrompts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

FileDialogResult chosen(const QString& path, bool typed = true) {
    FileDialogResult result;
    result.path = path;
    result.typed = typed;
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

// The real file system, with a lookup that fails on demand.
class FailingFiles : public LogFileSystem {
public:
    QString lookupFailure;
    bool regularFileExists(const QString& path, QString* error) override {
        if (!lookupFailure.isEmpty()) {
            *error = lookupFailure;
            return false;
        }
        return realLogFileSystem().regularFileExists(path, error);
    }
};

// Lowers a resource limit for one scope.
class Limit {
public:
    Limit(int resource, rlim_t value) : m_resource(resource) {
        ::getrlimit(resource, &m_old);
        rlimit lowered = m_old;
        lowered.rlim_cur = value;
        ::setrlimit(resource, &lowered);
    }
    ~Limit() { ::setrlimit(m_resource, &m_old); }

private:
    int m_resource;
    rlimit m_old{};
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
    void openFailureKeepsOldLog();
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
    QTest::newRow("picked without extension is that file")
        << int(AnswerNo) << "picked:old" << QByteArray("old\r\nline\0x\r\nnew", 16);
}

void tst_capturelog::existingFileAnswer() {
    QFETCH(int, answer);
    QFETCH(QString, typed);
    QFETCH(QByteArray, expected);
    const bool picked = typed.startsWith("picked:");
    typed.remove("picked:");
    const QString existing =
        picked || typed.contains(QLatin1Char('.')) ? path(typed) : path(typed + ".LOG");
    writeFile(existing, QByteArray("old\r\nline\0x\r\n", 13));
    if (picked)
        writeFile(path(typed + ".LOG"), "other"); // what a typed name would have found
    ScriptedPrompts prompts;
    prompts.fileAnswers << chosen(path(typed), !picked);
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

// "Overwrite" empties the old log only once the new one is open: an open
// that fails (here: no descriptor left) leaves it as it was.
void tst_capturelog::openFailureKeepsOldLog() {
    const QString existing = path("old.log");
    writeFile(existing, "precious");
    ScriptedPrompts prompts;
    prompts.fileAnswers << chosen(existing);
    prompts.messageAnswers << AnswerYes;
    CaptureLog log;

    QString title;
    {
        const Limit noDescriptors(RLIMIT_NOFILE, 0);
        title = runOpenLogCommand(prompts, log);
    }
    QCOMPARE(title, QString());
    QCOMPARE(prompts.log, QStringList({kDialog, overwriteQuestion(existing),
                                       warning(existing + QStringLiteral(" を開けません: ") +
                                               describeErrno(EMFILE))}));
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

    // A file that fills part-way: the write says how much reached it.
    QVERIFY(log.open(path("part.log"), &error));
    std::signal(SIGXFSZ, SIG_IGN);
    qsizetype written = -1;
    bool done = true;
    {
        const Limit small(RLIMIT_FSIZE, 4);
        done = log.write("0123456789", &error, &written);
    }
    QVERIFY(!done);
    QCOMPARE(written, 4);
    QCOMPARE(contents(path("part.log")), QByteArray("0123"));
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
