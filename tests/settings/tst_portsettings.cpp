#include "ScriptedPrompts.h"
#include "TestSerial.h"
#include "platform/Failure.h"
#include "platform/SettingsStore.h"
#include "serial/LineSettings.h"
#include "settings/PortSettings.h"

#include <QtTest>

namespace {

QString storeKey(const QString& key) {
    return settingsApp() + QLatin1Char('/') + settingsSection() + QLatin1Char('/') + key;
}

// "key=value" lines into a store.
void fillStore(MemorySettingsStore& store, const QStringList& entries) {
    for (const QString& entry : entries) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        store.values.insert(storeKey(entry.left(equals)), entry.mid(equals + 1));
    }
}

QStringList warnings(const QStringList& texts) {
    QStringList lines;
    for (const QString& text : texts)
        lines << QStringLiteral("msg|Velmora|%1|OK|exclamation|0").arg(text);
    return lines;
}

} // namespace

class tst_portsettings : public QObject {
    Q_OBJECT
private slots:

    void parse_data();
    void parse();
    void compose_data();
    void compose();
    void storedNumbers_data();
    void storedNumbers();
    void loading_data();
    void loading();
    void savingWritesReadBack();
    void savingGoesOnPastFailures_data();
    void savingGoesOnPastFailures();
};

void tst_portsettings::parse_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("composed"); // empty: does not parse
    QTest::newRow("one stop bit") << "9600,n,8,1"
                                  << "9600,n,8,1";
    QTest::newRow("one and a half stop bits") << "9600,n,5,1.5"
                                              << "9600,n,5,1.5";
    QTest::newRow("two stop bits, even") << "256000,e,7,2"
                                         << "256000,e,7,2";
    QTest::newRow("upper-case parity read in lower case") << "110,M,5,1.5"
                                                          << "110,m,5,1.5";
    QTest::newRow("space parity, 4 data bits") << "300,s,4,1"
                                               << "300,s,4,1";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("stop bits only") << "1"
                                    << "";
    QTest::newRow("no speed") << "n,8,1"
                              << "";
    QTest::newRow("unknown parity letter") << "9600,x,8,1"
                                           << "";
    QTest::newRow("nine data bits") << "9600,n,9,1"
                                    << "";
    QTest::newRow("blank inside") << "9600, n,8,1"
                                  << "";
    QTest::newRow("stop bits 1.0") << "9600,n,8,1.0"
                                   << "";
    QTest::newRow("nine-digit speed") << "123456789,n,8,1"
                                      << "";
}

void tst_portsettings::parse() {
    QFETCH(QString, settings);
    QFETCH(QString, composed);
    const std::optional<LineSettings> parsed = LineSettings::parse(settings);
    QCOMPARE(parsed ? parsed->compose() : QString(), composed);
}

void tst_portsettings::compose_data() {
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("settings");
    QTest::newRow("offered items") << QStringList{"9600", "None", "8", "1"} << "9600,N,8,1";
    QTest::newRow("blanks trimmed, none added")
        << QStringList{" 115200 ", "Even", " 7", "1.5  "} << "115200,E,7,1.5";
    QTest::newRow("empty selections give empty fields") << QStringList{"", "", "8", "1"} << ",,8,1";
}

void tst_portsettings::compose() {
    QFETCH(QStringList, texts);
    QFETCH(QString, settings);
    QCOMPARE(composeSettingsText(texts[0], texts[1], texts[2], texts[3]), settings);
}

void tst_portsettings::storedNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("failure");
    QTest::newRow("digits") << "12" << 12 << "";
    QTest::newRow("blanks around") << " 4 " << 4 << "";
    QTest::newRow("half rounds to even") << "2.5" << 2 << "";
    QTest::newRow("negative") << "-1" << -1 << "";
    QTest::newRow("largest") << "32767" << 32767 << "";
    QTest::newRow("not a number") << "abc" << 0 << "型が一致しません。";
    QTest::newRow("number then text") << "3x" << 0 << "型が一致しません。";
    QTest::newRow("not a number: nan") << "nan" << 0 << "型が一致しません。";
    QTest::newRow("too large") << "32768" << 0 << "オーバーフローしました。";
    QTest::newRow("too small") << "-40000" << 0 << "オーバーフローしました。";
    QTest::newRow("infinite") << "inf" << 0 << "オーバーフローしました。";
}

void tst_portsettings::storedNumbers() {
    QFETCH(QString, text);
    QFETCH(int, value);
    QFETCH(QString, failure);
    try {
        const qint16 converted = storedInteger16(text);
        QVERIFY2(failure.isEmpty(), "conversion should have failed");
        QCOMPARE(int(converted), value);
    } catch (const Failure& caught) {
        QCOMPARE(caught.description(), failure);
    }
    // The 32-bit conversion takes what overflows 16 bits.
    QCOMPARE(storedInteger32(QStringLiteral("70000")), 70000);
}

void tst_portsettings::loading_data() {
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("earlierFailure");
    QTest::addColumn<bool>("echoBefore");
    QTest::addColumn<QStringList>("applied");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<bool>("echoAfter");

    QTest::newRow("empty store: nothing applied, no box")
        << QStringList() << "" << false << QStringList() << QStringList() << false;
    QTest::newRow("all valid: applied in order")
        << QStringList{"Settings=19200,e,7,2", "CommPort=3", "Handshaking=2", "Echo=True"} << ""
        << false << QStringList{"Settings=19200,e,7,2", "CommPort=3", "Handshaking=2"}
        << QStringList() << true;
    QTest::newRow("echo False turns echo off")
        << QStringList{"Echo=False"} << "" << true << QStringList() << QStringList() << false;
    QTest::newRow("echo garbage leaves echo on")
        << QStringList{"Echo=yes"} << "" << true << QStringList() << QStringList() << true;
    QTest::newRow("echo garbage leaves echo off")
        << QStringList{"Echo=1"} << "" << false << QStringList() << QStringList() << false;
    QTest::newRow("rejected settings: one box, nothing else applied")
        << QStringList{"Settings=9600,q,8,1", "CommPort=3", "Handshaking=2", "Echo=True"} << ""
        << false << QStringList{"Settings=9600,q,8,1"}
        << QStringList{QStringLiteral("設定 \"9600,q,8,1\" は無効です。速度,パリティ (E/O/N/M/S),"
                                      "データ ビット (4-8),ストップ ビット (1/1.5/2) を"
                                      "空白なしで指定してください (例: 9600,n,8,1)。")}
        << false;
    QTest::newRow("rejected port, no flow key: dropped, echo read")
        << QStringList{"CommPort=17", "Echo=True"} << "" << false << QStringList{"CommPort=17"}
        << QStringList() << true;
    QTest::newRow("rejected port, flow key: reported at the flow check, echo not read")
        << QStringList{"CommPort=17", "Handshaking=1", "Echo=True"} << "" << false
        << QStringList{"CommPort=17", "Handshaking=1"}
        << QStringList{"ポート番号 17 は使えません (1 から 16 まで)。"} << false;
    QTest::newRow("port not a number: type mismatch at the flow check")
        << QStringList{"CommPort=COM3", "Handshaking=1"} << "" << false
        << QStringList{"Handshaking=1"} << QStringList{"型が一致しません。"} << false;
    QTest::newRow("port overflows 16 bits")
        << QStringList{"CommPort=40000", "Handshaking=0"} << "" << false
        << QStringList{"Handshaking=0"} << QStringList{"オーバーフローしました。"} << false;
    QTest::newRow("rejected port and rejected flow: the later failure shows")
        << QStringList{"CommPort=17", "Handshaking=7"} << "" << false
        << QStringList{"CommPort=17", "Handshaking=7"}
        << QStringList{"フロー制御の値 7 は使えません (0 から 3 まで)。"} << false;
    QTest::newRow("flow not a number: one box, echo not read")
        << QStringList{"Settings=9600,n,8,1", "Handshaking=RTS", "Echo=True"} << "" << false
        << QStringList{"Settings=9600,n,8,1"} << QStringList{"型が一致しません。"} << false;
    QTest::newRow("earlier failure shown at the settings check")
        << QStringList{"Settings=9600,n,8,1", "CommPort=2", "Echo=True"} << "前の失敗" << false
        << QStringList{"Settings=9600,n,8,1"} << QStringList{"前の失敗"} << false;
    QTest::newRow("earlier failure, no settings key: shown at the flow check")
        << QStringList{"CommPort=2", "Handshaking=1", "Echo=True"} << "前の失敗" << false
        << QStringList{"CommPort=2", "Handshaking=1"} << QStringList{"前の失敗"} << false;
    QTest::newRow("earlier failure, nothing checks it: dropped")
        << QStringList{"CommPort=2", "Echo=True"} << "前の失敗" << false
        << QStringList{"CommPort=2"} << QStringList() << true;
}

void tst_portsettings::loading() {
    QFETCH(QStringList, stored);
    QFETCH(QString, earlierFailure);
    QFETCH(bool, echoBefore);
    QFETCH(QStringList, applied);
    QFETCH(QStringList, shown);
    QFETCH(bool, echoAfter);

    TestSerial serial;
    ScriptedPrompts prompts;
    MemorySettingsStore store;
    fillStore(store, stored);
    bool LocalEcho = echoBefore;
    PendingFailure pending;
    if (!earlierFailure.isEmpty())
        pending.record(earlierFailure);

    runLoadingSequence(serial, store, prompts, pending, LocalEcho);

    QCOMPARE(serial.calls, applied);
    QCOMPARE(prompts.log, warnings(shown));
    QCOMPARE(LocalEcho, echoAfter);
    QVERIFY(!pending.pending());
    QCOMPARE(store.saves, 0);
}

void tst_portsettings::savingWritesReadBack() {
    TestSerial serial;
    serial.setCommPort(12);
    serial.setSettings(QStringLiteral("115200,E,7,1.5"));
    serial.setHandshaking(3);
    MemorySettingsStore store;

    QVERIFY(runSavingSequence(serial, store, true, nullptr));

    QCOMPARE(store.values.value(storeKey("Settings")), QStringLiteral("115200,e,7,1.5"));
    QCOMPARE(store.values.value(storeKey("CommPort")), QStringLiteral("12"));
    QCOMPARE(store.values.value(storeKey("Handshaking")), QStringLiteral("3"));
    QCOMPARE(store.values.value(storeKey("Echo")), QStringLiteral("True"));
    QCOMPARE(store.values.size(), 4);
}

void tst_portsettings::savingGoesOnPastFailures_data() {
    QTest::addColumn<QString>("failing");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("settings unreadable")
        << "Settings" << QStringList{"CommPort", "Echo", "Handshaking"};
    QTest::newRow("port unreadable")
        << "CommPort" << QStringList{"Echo", "Handshaking", "Settings"};
    QTest::newRow("flow unreadable")
        << "Handshaking" << QStringList{"CommPort", "Echo", "Settings"};
}

void tst_portsettings::savingGoesOnPastFailures() {
    QFETCH(QString, failing);
    QFETCH(QStringList, keys);
    TestSerial serial;
    serial.failOn.insert(failing);
    MemorySettingsStore store;

    QVERIFY(runSavingSequence(serial, store, false, nullptr));

    QStringList saved;
    for (const QString& key : store.values.keys())
        saved << key.section(QLatin1Char('/'), 2);
    QCOMPARE(saved, keys);
    QCOMPARE(store.values.value(storeKey("Echo")), QStringLiteral("False"));
}

QTEST_GUILESS_MAIN(tst_portsettings)
#include "tst_portsettings.moc"
