// The main window: composition, toolbar dispatch, layout, start-up, the port
// toggle with its connection display, log state and shutdown.
#include "ScriptedPrompts.h"
#include "TestSerial.h"

#include "platform/Clock.h"
#include "platform/Failure.h"
#include "platform/SettingsStore.h"
#include "screen/FindBar.h"
#include "screen/ScreenControls.h"
#include "screen/TerminalView.h"
#include "serial/LineSettings.h"
#include "terminal/ClickableImage.h"
#include "terminal/frmTerminal.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <memory>

namespace {

// Every look at the transmit buffer moves the clock a second on, so the
// shutdown wait reaches its deadline in a few looks on any machine.
class TestLine : public TestSerial {
public:
    qint16 OutBufferCount() const override {
        ++looks;
        clock->advance(1000);
        return drainAfterLooks > 0 && looks >= drainAfterLooks ? 0 : TestSerial::OutBufferCount();
    }
    ManualClock* clock = nullptr;
    int drainAfterLooks = 0;
    mutable int looks = 0;
};

struct Services {
    TestLine serial;
    ScriptedPrompts prompts;
    MemorySettingsStore store;
    ManualClock clock;
    QTemporaryDir dir;
    Services() { serial.clock = &clock; }
    // Opens a log through the open command, as the user would.
    void openLog(frmTerminal& w, const QString& name) {
        FileDialogResult result;
        result.path = dir.filePath(name);
        result.fileTitle = name;
        prompts.fileAnswers = {result};
        w.mnuOpenLog_Click();
    }
};

class RecordingTerminal : public frmTerminal {
public:
    using frmTerminal::frmTerminal;
    QStringList ran;
    void mnuOpenLog_Click() override { ran << "mnuOpenLog_Click"; }
    void mnuCloseLog_Click() override { ran << "mnuCloseLog_Click"; }
    void mnuProperties_Click() override { ran << "mnuProperties_Click"; }
    void HangUp() override { ran << "HangUp"; }
};

class NoScreenTerminal : public frmTerminal {
public:
    using frmTerminal::frmTerminal;

protected:
    void centreOnScreen() override { throw Failure(QStringLiteral("画面がありません")); }
};

template <class Window = frmTerminal> std::unique_ptr<frmTerminal> shown(Services& s) {
    auto w = std::make_unique<Window>(&s.serial, &s.prompts, &s.store, &s.clock);
    w->show();
    return w;
}

QString onOff(bool value) {
    return value ? QStringLiteral("on") : QStringLiteral("off");
}

QString display(const frmTerminal& w) {
    return QStringLiteral("check %1, hang-up %2, front %3, [%4], [%5], timer %6")
        .arg(onOff(w.mnuOpen->isChecked()), onOff(w.button("HangUpPhone")->isEnabled()),
             w.frontIndicator()->objectName(), w.panelText("Settings"), w.panelText("ConnectTime"),
             onOff(w.Timer1.isActive()));
}

const QString
    closedDisplay("check off, hang-up off, front imgNotConnected, [設定: ], [], timer off");
const QString noLog("Velmora | open on/on | close off/off");

QString logDisplay(const frmTerminal& w) {
    return QStringLiteral("%1 | open %2/%3 | close %4/%5")
        .arg(w.windowTitle(), onOff(w.mnuOpenLog->isEnabled()),
             onOff(w.button("OpenLogFile")->isEnabled()), onOff(w.mnuCloseLog->isEnabled()),
             onOff(w.button("CloseLogFile")->isEnabled()));
}

// Name and caption of each item, with the states that differ from plain.
QString describe(const QList<QAction*>& actions, bool tips = false) {
    QStringList items;
    for (const QAction* a : actions) {
        QString text = a->isSeparator() ? QStringLiteral("-")
                       : a->menu()      ? a->menu()->objectName() + " " + a->menu()->title()
                       : tips           ? a->toolTip()
                                        : a->text();
        if (!a->objectName().isEmpty())
            text.prepend(a->objectName() + " ");
        if (!a->isEnabled())
            text += " [disabled]";
        if (a->isCheckable())
            text += a->isChecked() ? " [checked]" : " [unchecked]";
        if (!a->shortcut().isEmpty())
            text += " [" + a->shortcut().toString() + "]";
        items << text;
    }
    return items.join("; ");
}

} // namespace

class tst_frmTerminal : public QObject {
    Q_OBJECT
private slots:
    void composition_data();
    void composition();
    void viewChoicesPersist();
    void scrollbackAndFindFromTheKeyboard();
    void toolbarDispatch_data();
    void toolbarDispatch();
    void resize_data();
    void resize();
    void startUp_data();
    void startUp();
    void portToggle_data();
    void portToggle();
    void failedOpenAndLostDevice();
    void slowOpen();
    void logState();
    void escapeSequences_data();
    void escapeSequences();
    void exitWithPortClosed();
    void shutdownWait_data();
    void shutdownWait();
    void secondExitDuringWaitIsRefused();

private:
    Services m_services;
    std::unique_ptr<frmTerminal> m_window;
};

void tst_frmTerminal::composition_data() {
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");
    m_window = shown(m_services);
    const frmTerminal& w = *m_window;
    const auto row = [](const char* name, const QString& actual, const QString& expected) {
        QTest::newRow(name) << actual << expected;
    };
    const auto size = [](const QSize& s) {
        return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
    };

    row("caption", w.windowTitle(), "Velmora");
    row("no message", QString::number(m_services.prompts.messageCount()), "0");
    row("client area", size(w.clientArea()->size()), size({w.twips(7155), w.twips(4935)}));
    row("bar heights", size({w.tbrToolBar->height(), w.sbrStatus->height()}),
        size({w.twips(390), w.twips(315)}));
    row("menu bar", describe(w.menuBar()->actions()),
        "mnuFile ﾌｧｲﾙ(&F); mnuPort 通信ﾎﾟｰﾄ(&C); mnuSerialCtl SerialCtl(&M); mnuView 表示(&V); "
        "mnuScript ｽｸﾘﾌﾟﾄ(&S)");
    row("script menu", describe(w.findChild<QMenu*>("mnuScript")->actions()),
        "mnuScriptRun 実行(&R)... [disabled]; mnuScriptStop 中止(&T) [disabled]");
    row("file menu", describe(w.mnuFile->actions()),
        "mnuOpenLog ﾛｸﾞ ﾌｧｲﾙを開く(&O)...; mnuCloseLog ﾛｸﾞ ﾌｧｲﾙを閉じる(&C) [disabled]; "
        "mnuRawLog 生ﾃﾞｰﾀを記録(&R)... [unchecked]; M3 -; "
        "mnuFileExit 終了(&X)");
    row("port menu", describe(w.mnuPort->actions()),
        "mnuOpen ﾎﾟｰﾄを開く(&O) [unchecked]; MBar1 -; mnuProperties ﾌﾟﾛﾊﾟﾃｨ...; MBar2 -; "
        "mnuSendFile ﾌｧｲﾙを送信(&S)... [disabled]; mnuSendHex 16進で送信(&X)... [disabled]; "
        "mnuBreak ﾌﾞﾚｰｸ信号(&B) [disabled]; mnuRTS RTS(&R) [checked]; mnuPacing 送信の間隔(&D)...; "
        "mnuTransfer ﾌｧｲﾙ転送(&T)");
    row("transfer menu", describe(w.findChild<QMenu*>("mnuTransfer")->actions()),
        "mnuSendZ ZMODEMで送信(&Z)... [disabled]; mnuSendY YMODEMで送信(&Y)... [disabled]; "
        "mnuSendX XMODEMで送信(&X)... [disabled]; -; mnuReceiveZ ZMODEMで受信(&R) [disabled]; "
        "mnuReceiveX XMODEMで受信(&V)... [disabled]; -; mnuReceiveFolder 受信ﾌｫﾙﾀﾞ(&F)...; "
        "mnuAutoZ ZMODEMを自動受信(&A) [unchecked]");
    row("serial menu", describe(w.mnuSerialCtl->actions()),
        "mnuInputLen InputLen(&I)...; mnuRThreshold RThreshold(&R)...; mnuSThreshold "
        "SThreshold(&S)...; mnuParRep ParityReplace(&A)...; mnuDTREnable DTREnable(&D) "
        "[unchecked]; Bar3 -; mnuHCTS CTSHolding(&O)...; mnuHDSR DSRHolding(&L)...");
    row("view menu", describe(w.mnuView->actions()),
        "mnuTimestamp ﾀｲﾑｽﾀﾝﾌﾟ(&T) [unchecked]; mnuHexView 16進表示(&H) [unchecked]; mnuCharset "
        "文字ｺｰﾄﾞ(&E); mnuEscapes ｴｽｹｰﾌﾟ ｼｰｹﾝｽを解釈(&A) [unchecked]; mnuScrollback "
        "ｽｸﾛｰﾙﾊﾞｯｸ(&B)...; mnuGraphBar -; mnuGraph ｸﾞﾗﾌ(&G) [unchecked]; mnuGraphCsv "
        "ｸﾞﾗﾌをCSVに保存(&C)...");
    row("character sets", describe(w.mnuCharset->actions()),
        "mnuCharsetSjis Shift_JIS(&S) [unchecked]; mnuCharsetUtf8 UTF-8(&U) [checked]; "
        "mnuCharsetEucJp EUC-JP(&E) [unchecked]; mnuCharsetJis JIS(&J) [unchecked]");
    row("toolbar with tool tips", describe(w.tbrToolBar->actions(), true),
        "OpenLogFile ﾛｸﾞ ﾌｧｲﾙを開く...; CloseLogFile ﾛｸﾞ ﾌｧｲﾙを閉じる [disabled]; -; "
        "HangUpPhone 回線切断 [disabled]; -; Properties ﾌﾟﾛﾊﾟﾃｨ...");
    QStringList panels;
    for (const QLabel* p : w.sbrStatus->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        panels << p->objectName() + " [" + p->text() + "] " + p->toolTip();
    row("panels", panels.join("; "),
        "Status [ｽﾃｰﾀｽ:] 通信ﾎﾟｰﾄのｽﾃｰﾀｽ; Settings [設定:] 通信ﾎﾟｰﾄの設定; ConnectTime [] "
        "接続時間");
    row("fixed panel widths",
        onOff(w.panel("Status")->width() >= w.twips(1440) &&
              w.panel("ConnectTime")->width() >= w.twips(705)),
        "on");
    row("indicator",
        w.frontIndicator()->objectName() + " " + w.imgConnected->toolTip() + " " +
            w.imgNotConnected->toolTip(),
        "imgNotConnected ﾎﾟｰﾄ切替 ﾎﾟｰﾄ切替");
    row("indicators stacked in the toolbar's frame",
        onOff(w.imgConnected->geometry() == w.imgNotConnected->geometry() &&
              w.Frame1->parentWidget() == w.tbrToolBar),
        "on");
    row("timers",
        QStringLiteral("%1 %2, %3 %4")
            .arg(w.Timer1.interval())
            .arg(onOff(w.Timer1.isActive()))
            .arg(w.Timer2.interval())
            .arg(onOff(w.Timer2.isActive())),
        "1000 off, 2000 off");
    row("terminal",
        "[" + w.txtTerm->Text() + "] " + w.txtTerm->palette().color(QPalette::Text).name(),
        "[] #0000ff");
    row("focus", w.focusWidget() ? w.focusWidget()->objectName() : QString(), "txtTerm");
    QStringList focusable;
    for (const QWidget* c : w.findChildren<QWidget*>())
        if ((c->focusPolicy() & Qt::TabFocus) && c != w.txtTerm && !c->inherits("QMenuBar") &&
            !c->inherits("QMenu"))
            focusable << QLatin1String(c->metaObject()->className());
    row("nothing else takes focus", focusable.join(","), "");
    bool pictures = !w.windowIcon().pixmap(16).isNull() && !w.imgConnected->pixmap().isNull() &&
                    w.imgConnected->pixmap().toImage() != w.imgNotConnected->pixmap().toImage();
    for (const QIcon& icon : w.ImageList1)
        pictures = pictures && !icon.pixmap(16).isNull();
    row("six pictures load", QString::number(w.ImageList1.size()) + onOff(pictures), "6on");
}

void tst_frmTerminal::composition() {
    QFETCH(QString, actual);
    QFETCH(QString, expected);
    QCOMPARE(actual, expected);
}

// The 表示 choices reach the session and the component at once and come back
// with the next window; a stored value that is no choice changes nothing.
void tst_frmTerminal::viewChoicesPersist() {
    Services s;
    {
        auto w = shown(s);
        w->mnuTimestamp->trigger();
        w->mnuHexView->trigger();
        w->mnuCharsetItems.at(2)->trigger();
        QVERIFY(w->session().timestamps() && w->session().hexView());
        QCOMPARE(w->session().codePage(), QByteArray("EUC-JP"));
        w->mnuHexView->trigger();
        QVERIFY(!w->session().hexView());
    }
    QCOMPARE(s.serial.codePage(), QByteArray("EUC-JP"));
    s.serial.setCodePage("UTF-8");
    auto again = shown(s);
    QCOMPARE(
        describe(again->mnuView->actions().mid(0, 2)),
        QStringLiteral("mnuTimestamp ﾀｲﾑｽﾀﾝﾌﾟ(&T) [checked]; mnuHexView 16進表示(&H) [unchecked]"));
    QVERIFY(again->mnuCharsetItems.at(2)->isChecked());
    QCOMPARE(s.serial.codePage(), QByteArray("EUC-JP"));

    s.store.values.insert(QStringLiteral("Velmora/View/Charset"), QStringLiteral("KOI8-R"));
    s.serial.setCodePage("UTF-8");
    QVERIFY(shown(s)->mnuCharsetItems.at(1)->isChecked());
    QCOMPARE(s.prompts.messageCount(), 0);
}

// The line count is asked for until it is one, kept and saved; the find bar
// opens on Ctrl+Shift+F, finds on Enter, and Esc gives the keyboard back with
// the match selected for Ctrl+Shift+C.
void tst_frmTerminal::scrollbackAndFindFromTheKeyboard() {
    Services s;
    auto w = shown(s);
    QApplication::setActiveWindow(w.get());
    s.prompts.inputAnswers = {QStringLiteral("ten"), QStringLiteral("300")};
    w->findChild<QAction*>(QStringLiteral("mnuScrollback"))->trigger();
    QCOMPARE(w->session().scrollback(), 300);
    QCOMPARE(s.store.values.value(QStringLiteral("Velmora/View/Scrollback")),
             QStringLiteral("300"));
    QCOMPARE(s.prompts.messageCount(), 1);
    for (int i = 0; i < 1000; ++i)
        w->session().append(QStringLiteral("line %1%2\r").arg(i).arg(i == 990 ? " needle" : ""));
    QCOMPARE(w->txtTerm->store().lineCount(), 300);
    QCOMPARE(shown(s)->session().scrollback(), 300);

    QTest::keyClick(w->txtTerm, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    FindBar* bar = w->screenControls().bar();
    QVERIFY(bar && bar->isVisible());
    QVERIFY(bar->geometry().top() > w->txtTerm->geometry().bottom());
    QTest::keyClicks(bar->text, QStringLiteral("NEEDLE"));
    QTest::keyClick(bar->text, Qt::Key_Return);
    QCOMPARE(w->txtTerm->selectedText(), QStringLiteral("needle"));
    QCOMPARE(bar->count->text(), QStringLiteral("1 件"));
    QTest::keyClick(bar->text, Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QCOMPARE(QApplication::focusWidget(), w->txtTerm);
    QTest::keyClick(w->txtTerm, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    if (QGuiApplication::clipboard()->text() == QStringLiteral("needle"))
        QCOMPARE(w->txtTerm->selectedText(), QStringLiteral("needle"));
    else
        QSKIP("no clipboard on this platform");
}

void tst_frmTerminal::toolbarDispatch_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("ran");
    QTest::newRow("open log") << "OpenLogFile"
                              << "mnuOpenLog_Click";
    QTest::newRow("close log") << "CloseLogFile"
                               << "mnuCloseLog_Click";
    QTest::newRow("properties") << "Properties"
                                << "mnuProperties_Click";
    QTest::newRow("hang up") << "HangUpPhone"
                             << "HangUp";
    QTest::newRow("case counts") << "openlogfile"
                                 << "";
    QTest::newRow("separator has no key") << ""
                                          << "";
    QTest::newRow("a panel key is no button") << "Status"
                                              << "";
}

void tst_frmTerminal::toolbarDispatch() {
    QFETCH(QString, key);
    QFETCH(QString, ran);
    Services s;
    RecordingTerminal w(&s.serial, &s.prompts, &s.store, &s.clock);
    w.tbrToolBar_ButtonClick(key);
    QCOMPARE(w.ran.join(","), ran);

    // Every control of the toolbar, separators and disabled buttons included.
    w.ran.clear();
    for (QAction* action : w.tbrToolBar->actions())
        action->trigger();
    QCOMPARE(w.ran.join(","), "mnuOpenLog_Click,mnuProperties_Click");
}

void tst_frmTerminal::resize_data() {
    QTest::addColumn<QSize>("client"); // in pixels at 96 dots per inch
    QTest::addColumn<bool>("terminalFollows");
    QTest::newRow("wider") << QSize(700, 329) << true;
    QTest::newRow("taller and narrower") << QSize(300, 500) << true;
    QTest::newRow("one pixel taller than both bars") << QSize(400, 48) << true;
    QTest::newRow("as tall as both bars keeps the old place") << QSize(400, 47) << false;
    QTest::newRow("shorter than both bars keeps the old place") << QSize(520, 20) << false;
}

void tst_frmTerminal::resize() {
    QFETCH(QSize, client);
    QFETCH(bool, terminalFollows);
    Services s;
    auto w = shown(s);
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    const int top = w->tbrToolBar->height();
    const int bars = top + w->sbrStatus->height();
    const QRect before = w->txtTerm->geometry();
    const int settingsWidth = w->panel("Settings")->width();
    QCOMPARE(before, QRect(0, top, w->clientArea()->width(), w->clientArea()->height() - bars));

    const QSize inner(w->twips(client.width() * 15), w->twips(client.height() * 15));
    w->resize(inner.width(), inner.height() + w->menuBar()->height());
    QVERIFY(QTest::qWaitFor([&] { return w->clientArea()->size() == inner; }));
    QCOMPARE(w->txtTerm->geometry(),
             terminalFollows ? QRect(0, top, inner.width(), inner.height() - bars) : before);
    QCOMPARE(w->Frame1->x(), inner.width() - w->Frame1->width() * 3 / 2);
    QCOMPARE(w->sbrStatus->geometry(), QRect(0, inner.height() - w->sbrStatus->height(),
                                             inner.width(), w->sbrStatus->height()));
    QCOMPARE(w->panel("Settings")->width() > settingsWidth, inner.width() > before.width());
}

void tst_frmTerminal::startUp_data() {
    QTest::addColumn<bool>("noScreen");
    QTest::addColumn<QStringList>("stored"); // Settings, CommPort, Handshaking, Echo
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("applied"); // settings / port / flow / echo

    const QString none = "9600,n,8,1 / 1 / 0 / off";
    QTest::newRow("empty store") << false << QStringList{"", "", "", ""} << "" << none;
    QTest::newRow("stored values applied")
        << false << QStringList{"4800,E,7,2", "3", "1", "True"} << ""
        << "4800,e,7,2 / 3 / 1 / on";
    QTest::newRow("settings rejected: one warning, rest skipped")
        << false << QStringList{"fast", "3", "2", "True"} << LineSettings::validate("fast") << none;
    QTest::newRow("port rejected, no flow stored: silent, echo read")
        << false << QStringList{"", "40", "", "True"} << ""
        << "9600,n,8,1 / 1 / 0 / on";
    QTest::newRow("port rejected, reported at the flow check")
        << false << QStringList{"", "40", "2", "True"}
        << "ポート番号 40 は使えません (1 から 16 まで)。"
        << "9600,n,8,1 / 1 / 2 / off";
    QTest::newRow("earlier failure shown at the settings check")
        << true << QStringList{"4800,e,7,2", "3", "1", "True"} << "画面がありません"
        << "4800,e,7,2 / 1 / 0 / off";
    QTest::newRow("earlier failure shown at the flow check")
        << true << QStringList{"", "3", "1", "True"} << "画面がありません"
        << "9600,n,8,1 / 3 / 1 / off";
    QTest::newRow("earlier failure unseen without settings or flow")
        << true << QStringList{"", "3", "", "True"} << ""
        << "9600,n,8,1 / 3 / 0 / on";
}

void tst_frmTerminal::startUp() {
    QFETCH(bool, noScreen);
    QFETCH(QStringList, stored);
    QFETCH(QString, message);
    QFETCH(QString, applied);
    Services s;
    const char* keys[] = {"Settings", "CommPort", "Handshaking", "Echo"};
    for (int i = 0; i < 4; ++i)
        if (!stored.at(i).isEmpty())
            s.store.values.insert(QStringLiteral("Velmora/Properties/") + keys[i], stored.at(i));
    auto w = noScreen ? shown<NoScreenTerminal>(s) : shown(s);

    QCOMPARE(s.prompts.log.join("\n"),
             message.isEmpty() ? QString() : "msg|Velmora|" + message + "|OK|exclamation|0");
    QCOMPARE(QStringLiteral("%1 / %2 / %3 / %4")
                 .arg(s.serial.Settings())
                 .arg(s.serial.CommPort())
                 .arg(s.serial.Handshaking())
                 .arg(onOff(w->session().LocalEcho)),
             applied);
    // The window opens normally whatever the store held.
    QVERIFY(w->session().LineStarted);
    QCOMPARE(QCoreApplication::applicationName(), "Velmora");
    QCOMPARE(display(*w), QString(closedDisplay).replace("[設定: ]", "[設定:]"));
}

void tst_frmTerminal::portToggle_data() {
    QTest::addColumn<QString>("opener");
    QTest::addColumn<QString>("closer");
    QTest::newRow("menu, then menu") << "menu"
                                     << "menu";
    QTest::newRow("red indicator, then green indicator") << "indicator"
                                                         << "indicator";
    QTest::newRow("menu, then the hang-up button") << "menu"
                                                   << "HangUpPhone";
}

void tst_frmTerminal::portToggle() {
    QFETCH(QString, opener);
    QFETCH(QString, closer);
    Services s;
    s.clock.now = 5 * 3600 * 1000; // the clock's origin is not the open
    auto w = shown(s);
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    const auto use = [&](const QString& control) {
        if (control == "menu")
            w->mnuOpen->trigger();
        else if (control == "indicator")
            QTest::mouseClick(w->frontIndicator(), Qt::LeftButton);
        else
            w->button(control)->trigger();
    };

    use(opener);
    QVERIFY(s.serial.PortOpen());
    QCOMPARE(display(*w),
             "check on, hang-up on, front imgConnected, [設定: 9600,n,8,1], [], timer on");
    s.clock.advance(1000);
    w->Timer1_Timer();
    QCOMPARE(w->panelText("ConnectTime"), "00:00:01 ");
    s.clock.advance((3 * 3600 + 61) * 1000);
    w->Timer1_Timer();
    QCOMPARE(w->panelText("ConnectTime"), "03:01:02 ");

    use(closer);
    QVERIFY(!s.serial.PortOpen());
    QCOMPARE(display(*w), closedDisplay);

    use(opener); // the count starts afresh
    s.clock.advance(2000);
    w->Timer1_Timer();
    QCOMPARE(w->panelText("ConnectTime"), "00:00:02 ");
    QCOMPARE(s.prompts.messageCount(), 0);
}

void tst_frmTerminal::failedOpenAndLostDevice() {
    Services s;
    auto w = shown(s);
    s.serial.setMissing(1);
    w->mnuOpen_Click();
    QCOMPARE(s.prompts.log.size(), 1);
    QVERIFY2(s.prompts.log.first().startsWith("msg|Velmora|Com1 を開けません: ") &&
                 s.prompts.log.first().endsWith("|OK|exclamation|0"),
             qPrintable(s.prompts.log.first()));
    QCOMPARE(display(*w), closedDisplay);

    s.prompts.clear();
    s.serial.setMissing(1, false);
    w->mnuOpen_Click();
    s.serial.receive("OK\r");
    const QString shownText = w->txtTerm->Text();
    s.serial.line.hangUp();
    QTRY_COMPARE(s.prompts.log.size(), 1);
    QVERIFY2(s.prompts.log.first().contains("との接続が切れました。"),
             qPrintable(s.prompts.log.first()));
    // Closed, and waiting for the same device to come back.
    QCOMPARE(display(*w), QString(closedDisplay).replace("[], timer", "[再接続待ち], timer"));
    QCOMPARE(w->txtTerm->Text(), shownText);
    w->mnuOpen_Click(); // the toggle acts on the real state: it opens again
    QVERIFY(s.serial.PortOpen());
    QCOMPARE(w->panelText("ConnectTime"), "");
}

// A remote port's connection is made in the background: the window shows
// it under way, hanging up ends it, and how it ended arrives later.
void tst_frmTerminal::slowOpen() {
    Services s;
    auto w = shown(s);
    s.serial.line.slowOpen = true;
    const QString connecting =
        QString(closedDisplay).replace("check off, hang-up off", "check on, hang-up on");
    w->mnuOpen_Click();
    QCOMPARE(display(*w), QString(connecting).replace("[]", "[接続中]"));
    w->button("HangUpPhone")->trigger();
    QCOMPARE(display(*w), closedDisplay);

    w->mnuOpen_Click();
    s.serial.line.connected = ECONNREFUSED;
    QTRY_COMPARE(s.prompts.log.size(), 1);
    QVERIFY2(s.prompts.log.first().startsWith("msg|Velmora|Com1 を開けません: "),
             qPrintable(s.prompts.log.first()));
    QCOMPARE(display(*w), closedDisplay);

    s.serial.line.connected = EINPROGRESS;
    w->mnuOpen_Click();
    s.serial.line.connected = 0;
    QTRY_VERIFY(s.serial.PortOpen());
    QCOMPARE(display(*w),
             "check on, hang-up on, front imgConnected, [設定: 9600,n,8,1], [], timer on");
    QCOMPARE(s.prompts.log.size(), 1);
}

void tst_frmTerminal::logState() {
    Services s;
    auto w = shown(s);
    QCOMPARE(logDisplay(*w), noLog);
    s.openLog(*w, "capture.LOG");
    QVERIFY(w->LogFileNumber() != 0);
    QCOMPARE(logDisplay(*w), "Velmora - capture.LOG | open off/off | close on/on");
    w->mnuOpen_Click(); // the port leaves the log alone
    w->mnuOpen_Click();
    QVERIFY(w->LogFileNumber() != 0);
    w->button("CloseLogFile")->trigger();
    QCOMPARE(w->LogFileNumber(), 0);
    QCOMPARE(logDisplay(*w), noLog);
}

void tst_frmTerminal::escapeSequences_data() {
    QTest::addColumn<bool>("on");
    QTest::addColumn<QString>("expected");
    QTest::newRow("off") << false << "\x1b[1;32mroot@board\x1b[0m:~# ls\r\n\x1b[01;34mbin\x1b[0m";
    QTest::newRow("on") << true << "root@board:~# ls\r\nbin";
}

// With the item on, a board's coloured prompt reads plain, cut between reads
// or not, and the log holds plain text; off, what comes is shown as it comes.
// The choice is there at the next start.
void tst_frmTerminal::escapeSequences() {
    QFETCH(bool, on);
    QFETCH(QString, expected);
    Services s;
    auto w = shown(s);
    if (on)
        w->mnuEscapes->trigger();
    s.openLog(*w, "board.LOG");
    w->mnuOpen_Click();
    s.serial.receive("\x1b[1;32mroot@board\x1b[0m:~# ls\r\n\x1b[01;3");
    s.serial.receive("4mbin\x1b[0m");
    QCOMPARE(w->txtTerm->Text(), expected);
    w->mnuCloseLog_Click();
    QFile log(s.dir.filePath("board.LOG"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(log.readAll()), expected);

    Services next;
    next.store.values = s.store.values;
    QCOMPARE(shown(next)->mnuEscapes->isChecked(), on);
}

void tst_frmTerminal::exitWithPortClosed() {
    Services s;
    auto w = shown(s);
    s.openLog(*w, "exit.LOG");
    s.serial.line.kernelQueue = 9; // not waited for while the port is closed
    QStringList transcript;
    connect(w.get(), &frmTerminal::ended, w.get(), [&] {
        transcript
            << QStringLiteral("ended: log %1, %2").arg(w->LogFileNumber()).arg(w->windowTitle());
    });
    w->mnuFileExit->trigger();
    QCOMPARE(transcript, QStringList{"ended: log 0, Velmora"});
    QCOMPARE(s.prompts.messageCount() + s.serial.looks, 0);
    QVERIFY(!w->isVisible());

    // Nothing of the window runs after the end.
    emit s.serial.OnComm();
    w->mnuFileExit_Click();
    QCOMPARE(w->panelText("Status"), "ｽﾃｰﾀｽ:");
    QCOMPARE(transcript.size(), 1);
}

void tst_frmTerminal::shutdownWait_data() {
    QTest::addColumn<bool>("closeButton");
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<int>("drainAfterLooks");
    QTest::addColumn<int>("prompts");
    QTest::addColumn<QString>("outcome");
    const QString ended = "ended: port off, log 0 | window off, port off, log off";
    const QString kept = "window on, port on, log on";
    QTest::newRow("drains: no prompt, ends") << false << QList<int>{} << 3 << 0 << ended;
    QTest::newRow("abort keeps everything") << false << QList<int>{AnswerAbort} << 0 << 1 << kept;
    QTest::newRow("ignore closes the port and ends")
        << false << QList<int>{AnswerIgnore} << 0 << 1 << ended;
    QTest::newRow("retry asks again")
        << false << QList<int>{AnswerRetry, AnswerIgnore} << 0 << 2 << ended;
    QTest::newRow("drains after a retry") << false << QList<int>{AnswerRetry} << 16 << 1 << ended;
    QTest::newRow("close button: abort keeps the window")
        << true << QList<int>{AnswerAbort} << 0 << 1 << kept;
    QTest::newRow("close button: ignore ends")
        << true << QList<int>{AnswerIgnore} << 0 << 1 << ended;
}

void tst_frmTerminal::shutdownWait() {
    QFETCH(bool, closeButton);
    QFETCH(QList<int>, answers);
    QFETCH(int, drainAfterLooks);
    QFETCH(int, prompts);
    QFETCH(QString, outcome);
    Services s;
    auto w = shown(s);
    s.openLog(*w, "wait.LOG");
    w->mnuOpen_Click();
    s.serial.line.kernelQueue = 12;
    s.serial.drainAfterLooks = drainAfterLooks;
    s.prompts.messageAnswers = answers;
    QStringList transcript;
    connect(w.get(), &frmTerminal::ended, w.get(), [&] {
        transcript << QStringLiteral("ended: port %1, log %2")
                          .arg(onOff(s.serial.PortOpen()))
                          .arg(w->LogFileNumber());
    });

    closeButton ? void(w->close()) : w->mnuFileExit_Click();
    transcript << QStringLiteral("window %1, port %2, log %3")
                      .arg(onOff(w->isVisible()), onOff(s.serial.PortOpen()),
                           onOff(w->LogFileNumber() != 0));
    QCOMPARE(transcript.join(" | "), outcome);
    QCOMPARE(
        s.prompts.log.filter("msg|"),
        QStringList(prompts, "msg|Velmora|ﾃﾞｰﾀが送信できません。|AbortRetryIgnore|question|0"));
}

void tst_frmTerminal::secondExitDuringWaitIsRefused() {
    Services s;
    auto w = shown(s);
    w->mnuOpen_Click();
    s.serial.line.kernelQueue = 5;
    s.prompts.messageAnswers = {AnswerAbort};
    QSignalSpy ended(w.get(), &frmTerminal::ended);
    QString during;
    QTimer::singleShot(0, w.get(), [&] {
        const bool closed = w->close();
        w->mnuFileExit_Click();
        during = QStringLiteral("closed %1, port %2, prompts %3")
                     .arg(onOff(closed), onOff(s.serial.PortOpen()))
                     .arg(s.prompts.messageCount());
    });
    w->mnuFileExit_Click();
    QCOMPARE(during, "closed off, port on, prompts 0");
    QCOMPARE(s.prompts.messageCount(), 1);
    QCOMPARE(ended.count(), 0);
    QVERIFY(w->isVisible() && s.serial.PortOpen());

    s.prompts.messageAnswers = {AnswerIgnore}; // answered: exit works again
    w->mnuFileExit_Click();
    QCOMPARE(ended.count(), 1);
}

QTEST_MAIN(tst_frmTerminal)
#include "tst_frmterminal.moc"
