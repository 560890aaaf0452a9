#include "ScriptedPrompts.h"
#include "TestSerial.h"
#include "platform/Failure.h"
#include "platform/SettingsStore.h"
#include "serial/LineSettings.h"
#include "serial/PortResolver.h"
#include "settings/PortSettings.h"
#include "settings/frmProperties.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

namespace {

// What the component says when Com`port` is not there.
QString missingPortText(int port) {
    TestSerial probe;
    probe.setMissing(port);
    probe.setCommPort(qint16(port));
    try {
        probe.setPortOpen(true);
    } catch (const Failure& failure) {
        return failure.description();
    }
    return {};
}

QStringList warnings(const QStringList& texts) {
    QStringList lines;
    for (const QString& text : texts)
        lines << QStringLiteral("msg|Velmora|%1|OK|exclamation|0").arg(text);
    return lines;
}

QStringList saved(const MemorySettingsStore& store) {
    QStringList lines;
    for (auto it = store.values.cbegin(); it != store.values.cend(); ++it)
        lines << it.key().section(QLatin1Char('/'), 2) + QLatin1Char('=') + it.value();
    return lines;
}

QStringList texts(const OfferedList& offered) {
    QStringList texts;
    for (const OfferedItem& item : offered)
        texts << item.text;
    return texts;
}

QStringList items(const QComboBox* list) {
    QStringList texts;
    for (int index = 0; index < list->count(); ++index)
        texts << list->itemText(index);
    return texts;
}

int checkedIndex(QRadioButton* const (&buttons)[2]) {
    return buttons[0]->isChecked() ? 0 : buttons[1]->isChecked() ? 1 : -1;
}

} // namespace

class tst_frmproperties : public QObject {
    Q_OBJECT
private slots:
    void init();

    void composition();
    void showsComponentValues_data();
    void showsComponentValues();
    void eachValueOnceAcrossOpenings();
    void pinnedPortsShowWhereTheyGo();
    void clicksRunTheHandlers();
    void ok_data();
    void ok();
    void unofferedValuesAreRefusedOnOK_data();
    void unofferedValuesAreRefusedOnOK();
    void cancelChangesNothing();

private:
    // Port 3, 9600,n,8,1, RTS, echo off; the transcript starts empty.
    void setUpComponent(bool open);
    std::function<void()> recordRefresh();

    TestSerial serial;
    ScriptedPrompts prompts;
    MemorySettingsStore store;
    bool LocalEcho = false; // the main window's
};

void tst_frmproperties::init() {
    LocalEcho = false;
    serial.line.missing.clear();
    serial.failOn.clear();
    prompts.clear();
    store.values.clear();
    store.saves = 0;
    store.failure.clear();
}

void tst_frmproperties::setUpComponent(bool open) {
    if (serial.PortOpen())
        serial.setPortOpen(false);
    serial.setCommPort(3);
    serial.setSettings(QStringLiteral("9600,n,8,1"));
    serial.setHandshaking(2);
    if (open)
        serial.setPortOpen(true);
    serial.calls.clear();
}

// The refresh goes into the component's transcript, with the state it saw.
std::function<void()> tst_frmproperties::recordRefresh() {
    return [this] {
        serial.calls << (serial.PortOpen() ? QStringLiteral("refresh:open")
                                           : QStringLiteral("refresh:closed"));
    };
}

void tst_frmproperties::composition() {
    setUpComponent(false);
    frmProperties dialog(serial, store, prompts, LocalEcho, {});
    QCOMPARE(dialog.windowTitle(), QStringLiteral("通信ﾎﾟｰﾄのﾌﾟﾛﾊﾟﾃｨ"));
    QVERIFY(dialog.isModal());
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(
        !(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    const double scale = dialog.logicalDpiX() / 96.0;
    QCOMPARE(dialog.width(), qRound(401 * scale));
    QCOMPARE(dialog.height(), qRound(284 * scale));
    const QRect screen = dialog.screen()->geometry();
    QCOMPARE(dialog.pos(), QPoint(screen.x() + (screen.width() - dialog.width()) / 2,
                                  screen.y() + (screen.height() - dialog.height()) / 2));

    QCOMPARE(dialog.tabSettings->count(), 1);
    QCOMPARE(dialog.tabSettings->tabText(0), QStringLiteral("ﾌﾟﾛﾊﾟﾃｨ"));
    QCOMPARE(dialog.fraSettings->parentWidget(), dialog.tabSettings->widget(0));
    QCOMPARE(dialog.fraSettings->pos(), QPoint(0, 0));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.fraSettings->isVisible());
    QVERIFY(dialog.tabSettings->widget(0)->rect().contains(dialog.fraSettings->geometry()));

    QVERIFY(dialog.cmdOK->isDefault());

    QVERIFY(dialog.optEchoGroup->exclusive());
    QCOMPARE(dialog.optFlowGroup->buttons().size(), 4);
    QCOMPARE(dialog.optFlowGroup->id(dialog.optFlow[2]), 2);
}

void tst_frmproperties::showsComponentValues_data() {
    QTest::addColumn<QString>("settings"); // reported as is
    QTest::addColumn<int>("port");         // reported as is
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QStringList>("shown"); // port, speed, parity, data bits, stop bits
    QTest::addColumn<int>("parityIndex");

    QTest::newRow("port 3, 9600 none 8 1, RTS, echo off")
        << "9600,n,8,1" << 3 << 2 << false << QStringList{"Com3", "9600", "None", "8", "1"} << 2;
    QTest::newRow("stop bits 1.5 with the other fields right")
        << "4800,o,5,1.5" << 1 << 0 << true << QStringList{"Com1", "4800", "Odd", "5", "1.5"} << 1;
    QTest::newRow("six-digit speed") << "115200,e,7,2" << 16 << 1 << false
                                     << QStringList{"Com16", "115200", "Even", "7", "2"} << 0;
    QTest::newRow("six-digit speed, 1.5, mark")
        << "256000,m,6,1.5" << 2 << 3 << true << QStringList{"Com2", "256000", "Mark", "6", "1.5"}
        << 3;
    QTest::newRow("space parity") << "110,s,8,1" << 9 << 0 << false
                                  << QStringList{"Com9", "110", "Space", "8", "1"} << 4;
    QTest::newRow("unoffered speed left unselected")
        << "1234,n,8,1" << 3 << 2 << false << QStringList{"Com3", "", "None", "8", "1"} << 2;
}

void tst_frmproperties::showsComponentValues() {
    QFETCH(QString, settings);
    QFETCH(int, port);
    QFETCH(int, mode);
    QFETCH(bool, echo);
    QFETCH(QStringList, shown);
    QFETCH(int, parityIndex);

    serial.setHandshaking(mode);
    serial.setSettings(settings);
    serial.setCommPort(qint16(port));
    LocalEcho = echo;
    frmProperties dialog(serial, store, prompts, LocalEcho, {});

    QCOMPARE(QStringList({dialog.cboPort->currentText(), dialog.cboSpeed->currentText(),
                          dialog.cboParity->currentText(), dialog.cboDataBits->currentText(),
                          dialog.cboStopBits->currentText()}),
             shown);
    QCOMPARE(dialog.cboParity->currentIndex(), parityIndex);
    QCOMPARE(dialog.optFlowGroup->checkedId(), mode);
    QCOMPARE(checkedIndex(dialog.optEcho), echo ? 1 : 0);
    // The program's selections ran the handlers.
    QCOMPARE(int(dialog.PendingFlow), mode);
    QCOMPARE(dialog.PendingEcho, echo);
    QVERIFY(prompts.log.isEmpty());
}

void tst_frmproperties::eachValueOnceAcrossOpenings() {
    setUpComponent(false);
    for (int opening = 0; opening < 2; ++opening) {
        frmProperties dialog(serial, store, prompts, LocalEcho, {});
        if (opening == 1)
            dialog.LoadPropertySettings();
        QCOMPARE(items(dialog.cboPort), texts(offeredPorts(portLinkDir())));
        QCOMPARE(items(dialog.cboSpeed), texts(offeredSpeeds()));
        QCOMPARE(items(dialog.cboParity), texts(offeredParities()));
        QCOMPARE(items(dialog.cboDataBits), texts(offeredDataBits()));
        QCOMPARE(items(dialog.cboStopBits), texts(offeredStopBits()));
        QCOMPARE(dialog.cboPort->currentText(), QStringLiteral("Com3"));
    }
}

void tst_frmproperties::pinnedPortsShowWhereTheyGo() {
    QTemporaryDir links;
    QVERIFY(QFile::link("rfc2217://lab-pi:7000", links.filePath("com5")));
    QVERIFY(QFile::link("/dev/ttyUSB3", links.filePath("com2")));
    QStringList hints;
    for (const OfferedItem& item : offeredPorts(links.path()))
        if (!item.hint.isEmpty())
            hints << item.text + ": " + item.hint.section(QStringLiteral(" → "), 1);
    QCOMPARE(hints, QStringList({"Com2: /dev/ttyUSB3", "Com5: rfc2217://lab-pi:7000"}));
}

void tst_frmproperties::clicksRunTheHandlers() {
    setUpComponent(false);
    frmProperties dialog(serial, store, prompts, LocalEcho, {});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QTest::mouseClick(dialog.optFlow[3], Qt::LeftButton);
    QTest::mouseClick(dialog.optEcho[1], Qt::LeftButton);
    QCOMPARE(dialog.PendingFlow, qint16(3));
    QVERIFY(dialog.PendingEcho);
    QCOMPARE(dialog.optFlowGroup->checkedId(), 3);
    QVERIFY(!dialog.optFlow[2]->isChecked());

    // Enter presses the default button.
    dialog.cboPort->setFocus();
    QTest::keyClick(dialog.cboPort, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(serial.Handshaking(), 3);
    QVERIFY(LocalEcho);
}

void tst_frmproperties::ok_data() {
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("port");      // chosen port number
    QTest::addColumn<QString>("speed"); // chosen speed text; empty: no selection
    QTest::addColumn<int>("echo");      // chosen echo option
    QTest::addColumn<QString>("missing");
    QTest::addColumn<QString>("failOn");
    QTest::addColumn<QStringList>("transcript");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<bool>("closed"); // the dialog closed
    QTest::addColumn<bool>("openAfter");
    QTest::addColumn<int>("portAfter");

    const QStringList applyRest{"Settings=9600,N,8,1", "Handshaking=2"};
    const QStringList all{"CommPort=3", "Echo=False", "Handshaking=2", "Settings=9600,n,8,1"};

    QTest::newRow("unchanged: writes settings and mode, saves all four")
        << false << 3 << "9600" << 0 << ""
        << "" << applyRest << QStringList() << all << true << false << 3;
    QTest::newRow("unchanged while open: the port is not closed")
        << true << 3 << "9600" << 0 << ""
        << "" << applyRest << QStringList() << all << true << true << 3;
    QTest::newRow("other port while closed: renumbered, display refreshed (no wait left)")
        << false << 5 << "9600" << 0 << ""
        << "" << QStringList{"CommPort=5", "refresh:closed"} + applyRest << QStringList()
        << QStringList{"CommPort=5", "Echo=False", "Handshaking=2", "Settings=9600,n,8,1"} << true
        << false << 5;
    QTest::newRow("other port while open: closed, renumbered, re-opened, display refreshed")
        << true << 5 << "9600" << 0 << ""
        << ""
        << QStringList{"PortOpen=False", "CommPort=5", "PortOpen=True", "refresh:open"} + applyRest
        << QStringList()
        << QStringList{"CommPort=5", "Echo=False", "Handshaking=2", "Settings=9600,n,8,1"} << true
        << true << 5;
    QTest::newRow("other port that cannot open: the old connection back, nothing saved")
        << true << 5 << "9600" << 0 << "5"
        << "" << QStringList{"PortOpen=False", "CommPort=5",    "PortOpen=True",
                             "CommPort=3",     "PortOpen=True", "refresh:open"}
        << QStringList{missingPortText(5)} << QStringList() << false << true << 3;
    QTest::newRow("neither port opens: closed, the warning says both")
        << true << 5 << "9600" << 0 << "5,3"
        << "" << QStringList{"PortOpen=False", "CommPort=5",    "PortOpen=True",
                             "CommPort=3",     "PortOpen=True", "refresh:closed"}
        << QStringList{missingPortText(5) + "\n" + missingPortText(3)} << QStringList() << false
        << false << 3;
    QTest::newRow("store that cannot be written: one warning, applied, closed")
        << false << 3 << "19200" << 0 << ""
        << "store" << QStringList{"Settings=19200,N,8,1", "Handshaking=2"}
        << QStringList{"設定を /ro/Velmora.conf に保存できません: 読み取り専用です"}
        << QStringList() << true << false << 3;
    QTest::newRow("port that cannot be closed: number kept, port still open, nothing saved")
        << true << 5 << "9600" << 0 << ""
        << "PortOpen" << QStringList{"CommPort=5", "CommPort=3", "refresh:open"}
        << QStringList{"ポートが開いている間はポート番号を変更できません。"} << QStringList()
        << false << true << 3;
    QTest::newRow("echo only: saved as True")
        << false << 3 << "9600" << 1 << ""
        << "" << applyRest << QStringList()
        << QStringList{"CommPort=3", "Echo=True", "Handshaking=2", "Settings=9600,n,8,1"} << true
        << false << 3;
    QTest::newRow("refused settings: echo already on, nothing saved")
        << false << 3 << "" << 1 << ""
        << "" << QStringList{"Settings=,N,8,1"} << QStringList{LineSettings::validate(",N,8,1")}
        << QStringList() << false << false << 3;
    QTest::newRow("refused settings after a port change: the change stays")
        << true << 4 << "" << 0 << ""
        << ""
        << QStringList{"PortOpen=False", "CommPort=4", "PortOpen=True", "refresh:open",
                       "Settings=,N,8,1"}
        << QStringList{LineSettings::validate(",N,8,1")} << QStringList() << false << true << 4;
    QTest::newRow("refused mode: nothing saved")
        << false << 3 << "19200" << 0 << ""
        << "Handshaking" << QStringList{"Settings=19200,N,8,1"} << QStringList{"Handshaking failed"}
        << QStringList() << false << false << 3;
}

void tst_frmproperties::ok() {
    QFETCH(bool, open);
    QFETCH(int, port);
    QFETCH(QString, speed);
    QFETCH(int, echo);
    QFETCH(QString, missing);
    QFETCH(QString, failOn);
    QFETCH(QStringList, transcript);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, stored);
    QFETCH(bool, closed);
    QFETCH(bool, openAfter);
    QFETCH(int, portAfter);

    setUpComponent(open);
    frmProperties dialog(serial, store, prompts, LocalEcho, recordRefresh());
    dialog.show();
    dialog.cboPort->setCurrentIndex(port - 1);
    dialog.cboSpeed->setCurrentIndex(dialog.cboSpeed->findText(speed));
    dialog.optEcho[echo]->click();
    for (const QString& number : missing.split(',', Qt::SkipEmptyParts))
        serial.setMissing(number.toInt());
    if (failOn == "store")
        store.failure =
            QStringLiteral("設定を /ro/Velmora.conf に保存できません: 読み取り専用です");
    else if (!failOn.isEmpty())
        serial.failOn.insert(failOn);

    dialog.cmdOK->click();

    QCOMPARE(serial.calls, transcript);
    QCOMPARE(prompts.log, warnings(shown));
    QCOMPARE(saved(store), stored);
    QCOMPARE(!dialog.isVisible(), closed);
    QCOMPARE(dialog.result(), int(closed ? QDialog::Accepted : QDialog::Rejected));
    QCOMPARE(serial.PortOpen(), openAfter);
    QCOMPARE(int(serial.CommPort()), portAfter);
    QCOMPARE(LocalEcho, echo == 1);
    if (!closed) {
        // The choices are still there for another try.
        QCOMPARE(dialog.cboPort->currentIndex(), port - 1);
        QCOMPARE(dialog.cboSpeed->currentText(), speed);
        QCOMPARE(checkedIndex(dialog.optEcho), echo);
    }
}

void tst_frmproperties::unofferedValuesAreRefusedOnOK_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("port");
    QTest::addColumn<QStringList>("transcript");
    QTest::addColumn<QString>("shown");
    QTest::newRow("unoffered speed")
        << "1234,n,8,1" << 3 << QStringList{"Settings=,N,8,1"} << LineSettings::validate(",N,8,1");
}

void tst_frmproperties::unofferedValuesAreRefusedOnOK() {
    QFETCH(QString, settings);
    QFETCH(int, port);
    QFETCH(QStringList, transcript);
    QFETCH(QString, shown);
    setUpComponent(false);
    serial.setSettings(settings);
    serial.setCommPort(qint16(port));
    serial.calls.clear();
    frmProperties dialog(serial, store, prompts, LocalEcho, recordRefresh());
    dialog.show();

    dialog.cmdOK_Click();

    QCOMPARE(serial.calls, transcript);
    QCOMPARE(prompts.log, warnings({shown}));
    QVERIFY(store.values.isEmpty());
    QVERIFY(dialog.isVisible());
}

void tst_frmproperties::cancelChangesNothing() {
    setUpComponent(true);
    frmProperties dialog(serial, store, prompts, LocalEcho, recordRefresh());
    dialog.show();
    dialog.cboPort->setCurrentIndex(7);
    dialog.cboSpeed->setCurrentIndex(0);
    dialog.cboParity->setCurrentIndex(0);
    dialog.cboDataBits->setCurrentIndex(0);
    dialog.cboStopBits->setCurrentIndex(2);
    dialog.optFlow[0]->click();
    dialog.optEcho[1]->click();

    dialog.cmdCancel->click();

    QVERIFY(serial.calls.isEmpty());
    QVERIFY(!LocalEcho);
    QVERIFY(store.values.isEmpty());
    QVERIFY(prompts.log.isEmpty());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(serial.Settings(), QStringLiteral("9600,n,8,1"));
    QVERIFY(serial.PortOpen());
}

QTEST_MAIN(tst_frmproperties)
#include "tst_frmproperties.moc"
