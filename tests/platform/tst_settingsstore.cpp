#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

namespace {

const QString app = QStringLiteral("Velmora");
const QString section = QStringLiteral("Properties");

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

class tst_settingsstore : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void handEditedCommasReadAsText();
    void unusableFileReadsAsEmpty_data();
    void unusableFileReadsAsEmpty();
    void failedSaveSaysWhereAndWhy_data();
    void failedSaveSaysWhereAndWhy();
    void corruptFileIsReplacedOnSave();
    void saveReplacesFileWhole();
};

void tst_settingsstore::roundTrip_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("settings with commas") << "9600,n,8,1";
    QTest::newRow("stop bits 1.5") << "115200,e,7,1.5";
    QTest::newRow("blanks kept") << " 9600 , n ";
    QTest::newRow("quotes and backslash") << "a\"b\\c";
    QTest::newRow("leading at sign") << "@Variant(x)";
    QTest::newRow("semicolon and equals") << "a;b=c";
    QTest::newRow("japanese") << "通信ﾎﾟｰﾄ";
    QTest::newRow("empty") << "";
}

void tst_settingsstore::roundTrip() {
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Velmora.conf"));
    {
        QSettingsStore store(path);
        QVERIFY(store.SaveSetting(app, section, QStringLiteral("Settings"), value, nullptr));
        QVERIFY(store.SaveSetting(app, section, QStringLiteral("Echo"), QStringLiteral("True"),
                                  nullptr));
    }
    QSettingsStore reader(path);
    QCOMPARE(reader.GetSetting(app, section, QStringLiteral("Settings"), QStringLiteral("x")),
             value);
    QCOMPARE(reader.GetSetting(app, section, QStringLiteral("Echo"), QString()),
             QStringLiteral("True"));
}

void tst_settingsstore::handEditedCommasReadAsText() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Velmora.conf"));
    writeFile(path, "[Properties]\nSettings=19200,e,7,2\nCommPort=3\n");
    QSettingsStore store(path);
    QCOMPARE(store.GetSetting(app, section, QStringLiteral("Settings"), QString()),
             QStringLiteral("19200,e,7,2"));
    QCOMPARE(store.GetSetting(app, section, QStringLiteral("CommPort"), QString()),
             QStringLiteral("3"));
}

void tst_settingsstore::unusableFileReadsAsEmpty_data() {
    QTest::addColumn<QByteArray>("content"); // empty: the path is a folder
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe[[[\n=\n\\\x01", 12);
    QTest::newRow("unterminated section and quote")
        << QByteArray("[Properties\nSettings=\"9600,n,8,1\n");
    QTest::newRow("a folder where the file should be") << QByteArray();
}

void tst_settingsstore::unusableFileReadsAsEmpty() {
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Velmora.conf"));
    if (content.isEmpty())
        QVERIFY(QDir().mkdir(path));
    else
        writeFile(path, content);
    QSettingsStore store(path);
    for (const char* key : {"Settings", "CommPort", "Handshaking", "Echo"})
        QCOMPARE(store.GetSetting(app, section, QLatin1String(key), QString()), QString());
    // Saving into it must not crash either.
    store.SaveSetting(app, section, QStringLiteral("Echo"), QStringLiteral("True"), nullptr);
}

void tst_settingsstore::failedSaveSaysWhereAndWhy_data() {
    QTest::addColumn<QString>("path"); // relative: inside a fresh folder
    QTest::newRow("a folder where the file should be") << "Velmora.conf/";
    QTest::newRow("a folder nobody may write in") << "/sys/Velmora.conf";
}

// A save that does not reach the store says so, with the file and a reason.
void tst_settingsstore::failedSaveSaysWhereAndWhy() {
    QFETCH(QString, path);
    QTemporaryDir dir;
    if (path.endsWith('/')) {
        path = dir.filePath(path.chopped(1));
        QVERIFY(QDir().mkdir(path));
    }
    QSettingsStore store(path);
    QString error;
    QVERIFY(
        !store.SaveSetting(app, section, QStringLiteral("Echo"), QStringLiteral("True"), &error));
    const QString head = QStringLiteral("設定を %1 に保存できません: ").arg(path);
    QVERIFY2(error.startsWith(head) && error.size() > head.size(), qPrintable(error));
}

void tst_settingsstore::corruptFileIsReplacedOnSave() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Velmora.conf"));
    writeFile(path, QByteArray("\x00\xff\xfe[[[\n=\n\\\x01", 12));
    QSettingsStore store(path);
    QVERIFY(store.SaveSetting(app, section, QStringLiteral("Settings"),
                              QStringLiteral("9600,n,8,1"), nullptr));
    QCOMPARE(store.GetSetting(app, section, QStringLiteral("Settings"), QString()),
             QStringLiteral("9600,n,8,1"));
}

// A save writes a new file and renames it over the old one: a second name for
// the old file still sees the old content whole, never a truncated one.
void tst_settingsstore::saveReplacesFileWhole() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Velmora.conf"));
    const QString oldName = dir.filePath(QStringLiteral("old.conf"));
    QSettingsStore store(path);
    QVERIFY(store.SaveSetting(app, section, QStringLiteral("Settings"),
                              QStringLiteral("9600,n,8,1"), nullptr));
    const QByteArray before = readFile(path);
    QVERIFY(!before.isEmpty());
    QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(oldName).constData()) ==
            0);

    QVERIFY(store.SaveSetting(app, section, QStringLiteral("Settings"),
                              QStringLiteral("4800,e,7,2"), nullptr));

    QCOMPARE(readFile(oldName), before);
    QCOMPARE(store.GetSetting(app, section, QStringLiteral("Settings"), QString()),
             QStringLiteral("4800,e,7,2"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

QTEST_APPLESS_MAIN(tst_settingsstore)
#include "tst_settingsstore.moc"
