#include "terminal/frmTerminal.h"

#include "datapath/TerminalEdit.h"
#include "linecmds/LineCommands.h"
#include "platform/Clock.h"
#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "sending/SendCommands.h"
#include "serial/ISerialCtl.h"
#include "settings/PortSettings.h"
#include "settings/frmProperties.h"
#include "terminal/ClickableImage.h"
#include "terminal/ConnectTime.h"
#include "terminal/ShutdownWait.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

namespace {

const QString keyOpenLogFile = QStringLiteral("OpenLogFile");
const QString keyCloseLogFile = QStringLiteral("CloseLogFile");
const QString keyHangUpPhone = QStringLiteral("HangUpPhone");
const QString keyProperties = QStringLiteral("Properties");
const QString keyStatus = QStringLiteral("Status");
const QString keySettings = QStringLiteral("Settings");
const QString keyConnectTime = QStringLiteral("ConnectTime");
const QString settingsPrefix = QStringLiteral("設定: ");
const QString portSwitchTip = QStringLiteral("ﾎﾟｰﾄ切替");

// Between looks at the transmit buffer during shutdown.
constexpr int drainPauseMs = 25;

QIcon picture(const char* name) {
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

} // namespace

template <class Handler> void frmTerminal::guarded(Handler&& handler) {
    if (m_ended)
        return;
    // A failure nobody checked for still reaches the user instead of the event loop.
    try {
        handler();
    } catch (const Failure& failure) {
        m_prompts->warn(failure.description());
    }
}

frmTerminal::frmTerminal(ISerialCtl* serial, Prompts* prompts, SettingsStore* store, Clock* clock,
                         QWidget* parent)
    : QMainWindow(parent), SerialCtl1(serial), m_prompts(prompts), m_store(store), m_clock(clock) {
    setWindowTitle(appTitle());
    setWindowIcon(picture("handshake"));

    ImageList1 = {picture("folder-open"),     picture("folder-closed"), picture("phone-lifted"),
                  picture("phone-on-cradle"), picture("hand-form"),     picture("note-sheet")};

    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    setCentralWidget(m_client);

    Timer2.setInterval(2000);

    txtTerm = new TerminalEdit(m_client);
    txtTerm->setObjectName(QStringLiteral("txtTerm"));
    txtTerm->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtTerm->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtTerm->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont terminalFont = txtTerm->font();
    terminalFont.setFamilies({QStringLiteral("Noto Sans Mono CJK JP"),
                              QStringLiteral("Noto Sans Mono"), QStringLiteral("monospace")});
    terminalFont.setStyleHint(QFont::TypeWriter);
    txtTerm->setFont(terminalFont);

    composeToolBar();
    composeIndicator();

    Timer1.setInterval(1000);
    Timer1.setTimerType(Qt::PreciseTimer);

    composeStatusBar();
    composeMenus();
    composeSending();

    m_comm = std::make_unique<CommEventHandler>(*SerialCtl1, *txtTerm, *this);
    connectSignals();

    m_client->installEventFilter(this);
    const int clientHeight = twips(4935);
    const int clientWidth = twips(7155);
    const int menuHeight = menuBar()->heightForWidth(clientWidth) > 0
                               ? menuBar()->heightForWidth(clientWidth)
                               : menuBar()->sizeHint().height();
    resize(clientWidth, clientHeight + menuHeight);
    txtTerm->setFocus();
}

frmTerminal::~frmTerminal() {
    if (SerialCtl1)
        SerialCtl1->disconnect(this);
}

int frmTerminal::twips(int value) const {
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    const qreal dpi = shown ? shown->logicalDotsPerInch() : 96.0;
    return qRound(value * dpi / 1440.0);
}

void frmTerminal::composeToolBar() {
    tbrToolBar = new QToolBar(m_client);
    tbrToolBar->setObjectName(QStringLiteral("tbrToolBar"));
    tbrToolBar->setMovable(false);
    tbrToolBar->setFloatable(false);
    tbrToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tbrToolBar->setIconSize(QSize(twips(240), twips(240)));
    tbrToolBar->setFixedHeight(twips(390));
    tbrToolBar->setFocusPolicy(Qt::NoFocus);

    struct ButtonRow {
        QString key;
        int image; // 1-based, as in the image list
        const char* tip;
        bool enabled;
    };
    const ButtonRow rows[] = {
        {keyOpenLogFile, 1, "ﾛｸﾞ ﾌｧｲﾙを開く...", true},
        {keyCloseLogFile, 2, "ﾛｸﾞ ﾌｧｲﾙを閉じる", false},
        {QString(), 0, nullptr, false},
        {keyHangUpPhone, 4, "回線切断", false},
        {QString(), 0, nullptr, false},
        {keyProperties, 5, "ﾌﾟﾛﾊﾟﾃｨ...", true},
    };
    for (const ButtonRow& row : rows) {
        if (row.key.isEmpty()) {
            tbrToolBar->addSeparator();
            continue;
        }
        const QString tip = QString::fromUtf8(row.tip);
        QAction* action = tbrToolBar->addAction(ImageList1.at(row.image - 1), tip);
        action->setObjectName(row.key);
        action->setToolTip(tip);
        action->setEnabled(row.enabled);
        m_buttons.insert(row.key, action);
        if (QWidget* tool = tbrToolBar->widgetForAction(action)) {
            tool->setFixedSize(twips(23 * 15), twips(22 * 15));
            tool->setFocusPolicy(Qt::NoFocus);
        }
        const QString key = row.key;
        connect(action, &QAction::triggered, this,
                [this, key] { guarded([&] { tbrToolBar_ButtonClick(key); }); });
    }
}

void frmTerminal::composeIndicator() {
    Frame1 = new QFrame(tbrToolBar);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::NoFrame);
    Frame1->setGeometry(twips(4000), twips(75), twips(240), twips(240));

    const auto makeImage = [this](const char* name, const char* disc) {
        auto* image = new ClickableImage(Frame1);
        image->setObjectName(QLatin1String(name));
        image->setGeometry(0, 0, twips(240), twips(240));
        image->setPixmap(picture(disc).pixmap(image->size(), devicePixelRatioF()));
        image->setToolTip(portSwitchTip);
        // Opaque, so the image behind does not show through the edge of the disc.
        image->setAutoFillBackground(true);
        return image;
    };
    imgConnected = makeImage("imgConnected", "disc-green");
    imgNotConnected = makeImage("imgNotConnected", "disc-red");
}

void frmTerminal::composeStatusBar() {
    sbrStatus = new QStatusBar(m_client);
    sbrStatus->setObjectName(QStringLiteral("sbrStatus"));
    sbrStatus->setFixedHeight(twips(315));

    struct PanelRow {
        QString key;
        const char* text;
        const char* tip;
        int width; // twips; 0 takes what is left over
    };
    const PanelRow rows[] = {
        {keyStatus, "ｽﾃｰﾀｽ:", "通信ﾎﾟｰﾄのｽﾃｰﾀｽ", 1440},
        {keySettings, "設定:", "通信ﾎﾟｰﾄの設定", 0},
        {keyConnectTime, "", "接続時間", 705},
    };
    for (const PanelRow& row : rows) {
        auto* label = new QLabel(QString::fromUtf8(row.text), sbrStatus);
        label->setObjectName(row.key);
        label->setToolTip(QString::fromUtf8(row.tip));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // Fixed panels keep at least their width and grow for a longer message.
        if (row.width > 0)
            label->setMinimumWidth(twips(row.width));
        sbrStatus->addWidget(label, row.width > 0 ? 0 : 1);
        m_panels.insert(row.key, label);
    }
}

// The port menu's sending items after its own, their progress in the status bar.
void frmTerminal::composeSending() {
    m_send = new SendCommands(*SerialCtl1, *m_prompts, *m_store, *m_clock, this);
    mnuPort->addSeparator()->setObjectName(QStringLiteral("MBar2"));
    mnuPort->addActions({m_send->mnuSendFile, m_send->mnuSendHex, m_send->mnuBreak, m_send->mnuRTS,
                         m_send->mnuPacing});
    connect(mnuPort, &QMenu::aboutToShow, m_send, &SendCommands::refresh);
    sbrStatus->addPermanentWidget(m_send->fraSend);
    txtTerm->pasteHandler = [this](const QString& text) {
        return m_send->paste(text, [this](int code) { txtTerm->typeCharacter(code); });
    };
}

void frmTerminal::bytesReceived(const QByteArray& bytes) {
    if (m_send)
        m_send->received(bytes);
}

void frmTerminal::composeMenus() {
    const auto item = [this](QMenu* menu, const char* name, const char* caption) {
        QAction* action = menu->addAction(QString::fromUtf8(caption));
        action->setObjectName(QLatin1String(name));
        return action;
    };
    const auto separator = [](QMenu* menu, const char* name) {
        QAction* action = menu->addSeparator();
        action->setObjectName(QLatin1String(name));
        return action;
    };
    const auto menu = [this](const char* name, const char* caption) {
        auto* created = new QMenu(QString::fromUtf8(caption), this);
        created->setObjectName(QLatin1String(name));
        menuBar()->addMenu(created);
        return created;
    };

    mnuFile = menu("mnuFile", "ﾌｧｲﾙ(&F)");
    mnuOpenLog = item(mnuFile, "mnuOpenLog", "ﾛｸﾞ ﾌｧｲﾙを開く(&O)...");
    mnuCloseLog = item(mnuFile, "mnuCloseLog", "ﾛｸﾞ ﾌｧｲﾙを閉じる(&C)");
    mnuCloseLog->setEnabled(false);
    M3 = separator(mnuFile, "M3");
    mnuFileExit = item(mnuFile, "mnuFileExit", "終了(&X)");

    mnuPort = menu("mnuPort", "通信ﾎﾟｰﾄ(&C)");
    mnuOpen = item(mnuPort, "mnuOpen", "ﾎﾟｰﾄを開く(&O)");
    mnuOpen->setCheckable(true);
    MBar1 = separator(mnuPort, "MBar1");
    mnuProperties = item(mnuPort, "mnuProperties", "ﾌﾟﾛﾊﾟﾃｨ...");

    mnuSerialCtl = menu("mnuSerialCtl", "SerialCtl(&M)");
    mnuInputLen = item(mnuSerialCtl, "mnuInputLen", "InputLen(&I)...");
    mnuRThreshold = item(mnuSerialCtl, "mnuRThreshold", "RThreshold(&R)...");
    mnuSThreshold = item(mnuSerialCtl, "mnuSThreshold", "SThreshold(&S)...");
    mnuParRep = item(mnuSerialCtl, "mnuParRep", "ParityReplace(&A)...");
    mnuDTREnable = item(mnuSerialCtl, "mnuDTREnable", "DTREnable(&D)");
    mnuDTREnable->setCheckable(true);
    Bar3 = separator(mnuSerialCtl, "Bar3");
    mnuHCTS = item(mnuSerialCtl, "mnuHCTS", "CTSHolding(&O)...");
    mnuHDSR = item(mnuSerialCtl, "mnuHDSR", "DSRHolding(&L)...");
}

void frmTerminal::connectSignals() {
    const auto on = [this](QAction* action, void (frmTerminal::*handler)()) {
        connect(action, &QAction::triggered, this,
                [this, handler] { guarded([&] { (this->*handler)(); }); });
    };
    on(mnuOpenLog, &frmTerminal::mnuOpenLog_Click);
    on(mnuCloseLog, &frmTerminal::mnuCloseLog_Click);
    on(mnuFileExit, &frmTerminal::mnuFileExit_Click);
    on(mnuProperties, &frmTerminal::mnuProperties_Click);
    on(mnuInputLen, &frmTerminal::mnuInputLen_Click);
    on(mnuRThreshold, &frmTerminal::mnuRThreshold_Click);
    on(mnuSThreshold, &frmTerminal::mnuSThreshold_Click);
    on(mnuParRep, &frmTerminal::mnuParRep_Click);
    on(mnuHCTS, &frmTerminal::mnuHCTS_Click);
    on(mnuHDSR, &frmTerminal::mnuHDSR_Click);
    // A checkable item flips its own mark before it reports the click; the
    // handlers set the mark from the component instead.
    connect(mnuOpen, &QAction::triggered, this, [this](bool checked) {
        mnuOpen->setChecked(!checked);
        guarded([&] { mnuOpen_Click(); });
    });
    connect(mnuDTREnable, &QAction::triggered, this, [this](bool checked) {
        mnuDTREnable->setChecked(!checked);
        guarded([&] { mnuDTREnable_Click(); });
    });

    connect(imgConnected, &ClickableImage::Click, this,
            [this] { guarded([&] { imgConnected_Click(); }); });
    connect(imgNotConnected, &ClickableImage::Click, this,
            [this] { guarded([&] { imgNotConnected_Click(); }); });
    connect(&Timer1, &QTimer::timeout, this, [this] { guarded([&] { Timer1_Timer(); }); });
    connect(&Timer2, &QTimer::timeout, this, [this] { guarded([&] { Timer2_Timer(); }); });
    txtTerm->keyPressHandler = [this](int& keyCode) {
        if (m_ended) {
            keyCode = 0;
            return;
        }
        guarded([&] { txtTerm_KeyPress(keyCode); });
    };

    connect(SerialCtl1, &ISerialCtl::OnComm, this,
            [this] { guarded([&] { SerialCtl1_OnComm(); }); });
    // A port closed under a command (a loss inside a settings apply) still
    // shows as closed.
    connect(SerialCtl1, &ISerialCtl::PortClosed, this, [this] {
        guarded([&] {
            m_comm->portClosed();
            refreshConnectionDisplay();
        });
    });
    connect(SerialCtl1, &ISerialCtl::DeviceLost, this,
            [this](const QString& description) { guarded([&] { onDeviceLost(description); }); });
    connect(SerialCtl1, &ISerialCtl::Reconnected, this,
            [this](const QString& description) { guarded([&] { onReconnected(description); }); });
}

// ---------------------------------------------------------------------------
// Controls by key

QAction* frmTerminal::button(const QString& key) const {
    return m_buttons.value(key, nullptr);
}

QLabel* frmTerminal::panel(const QString& key) const {
    return m_panels.value(key, nullptr);
}

QString frmTerminal::panelText(const QString& key) const {
    const QLabel* label = panel(key);
    return label ? label->text() : QString();
}

void frmTerminal::setPanelText(const QString& key, const QString& text) {
    if (QLabel* label = panel(key))
        label->setText(text);
}

ClickableImage* frmTerminal::frontIndicator() const {
    const QObjectList& stack = Frame1->children();
    for (auto it = stack.crbegin(); it != stack.crend(); ++it) {
        if (*it == imgConnected)
            return imgConnected;
        if (*it == imgNotConnected)
            return imgNotConnected;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Start-up, layout and shutdown

void frmTerminal::setVisible(bool visible) {
    if (visible && !m_loaded)
        Form_Load();
    QMainWindow::setVisible(visible);
}

void frmTerminal::Form_Load() {
    m_loaded = true;
    PendingFailure pending;
    pending.attempt([&] { LineStarted = true; });
    pending.attempt([&] {
        txtTerm->setSelStart(0);
        txtTerm->setSelLength(txtTerm->TextLength());
        txtTerm->setSelText(QString());
    });
    pending.attempt([&] {
        QPalette palette = txtTerm->palette();
        palette.setColor(QPalette::Text, QColor(0, 0, 255));
        txtTerm->setPalette(palette);
    });
    pending.attempt([&] { QCoreApplication::setApplicationName(appTitle()); });
    pending.attempt([&] { imgNotConnected->raise(); });
    pending.attempt([&] { centreOnScreen(); });
    // Steps 7 to 11 check the failure carried in from the steps above.
    runLoadingSequence(*SerialCtl1, *m_store, *m_prompts, pending, LocalEcho);
    pending.clear();
}

void frmTerminal::centreOnScreen() {
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shown)
        throw Failure(QStringLiteral("画面の大きさを取得できません。"));
    const QRect area = shown->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

bool frmTerminal::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_client && event->type() == QEvent::Resize) {
        alignBars();
        guarded([&] { Form_Resize(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

// The toolbar keeps to the top edge and the status bar to the bottom edge,
// each the full width, as aligned controls do.
void frmTerminal::alignBars() {
    const QSize inner = m_client->size();
    tbrToolBar->setGeometry(0, 0, inner.width(), tbrToolBar->height());
    sbrStatus->setGeometry(0, inner.height() - sbrStatus->height(), inner.width(),
                           sbrStatus->height());
}

void frmTerminal::Form_Resize() {
    const int innerWidth = m_client->width();
    const int innerHeight = m_client->height();
    const int barsHeight = sbrStatus->height() + tbrToolBar->height();
    if (barsHeight < innerHeight)
        txtTerm->setGeometry(0, tbrToolBar->height(), innerWidth, innerHeight - barsHeight);
    Frame1->move(innerWidth - Frame1->width() * 3 / 2, Frame1->y());
}

void frmTerminal::closeEvent(QCloseEvent* event) {
    if (m_ended) {
        event->accept();
        return;
    }
    bool cancel = false;
    Form_Unload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void frmTerminal::mnuFileExit_Click() {
    bool cancel = false;
    Form_Unload(cancel);
    if (cancel)
        PromptResult = -1;
}

void frmTerminal::Form_Unload(bool& Cancel) {
    // The shutdown wait lets events run; a second exit request meanwhile must
    // neither start another wait nor close the port under the first.
    if (m_unloading || m_ended) {
        Cancel = true;
        return;
    }
    m_unloading = true;
    if (m_send)
        m_send->stopForExit();

    bool open = false;
    PendingFailure reading;
    reading.attempt([&] { open = SerialCtl1->PortOpen(); });
    if (open) {
        const DrainOutcome outcome =
            waitForOutputToDrain(*SerialCtl1, *m_prompts, *m_clock, [this] { letEventsRun(); });
        if (outcome == DrainOutcome::Abort) {
            Cancel = true;
            m_unloading = false;
            return;
        }
        // Closing may still be refused; the program ends all the same.
        PendingFailure closing;
        closing.attempt([&] { SerialCtl1->setPortOpen(false); });
        if (closing.pending())
            m_prompts->warn(closing.description());
    }
    if (LogFileNumber() != 0)
        mnuCloseLog_Click();
    end();
}

void frmTerminal::letEventsRun() {
    // Pending events run, and the wait sleeps instead of spinning.
    QEventLoop pause;
    QTimer::singleShot(drainPauseMs, &pause, &QEventLoop::quit);
    pause.exec();
}

void frmTerminal::end() {
    m_ended = true;
    Timer1.stop();
    Timer2.stop();
    SerialCtl1->disconnect(this);
    close();
    emit ended();
}

// ---------------------------------------------------------------------------
// Commands

void frmTerminal::tbrToolBar_ButtonClick(const QString& key) {
    if (key == keyOpenLogFile)
        mnuOpenLog_Click();
    else if (key == keyCloseLogFile)
        mnuCloseLog_Click();
    else if (key == keyProperties)
        mnuProperties_Click();
    else if (key == keyHangUpPhone)
        HangUp();
}

void frmTerminal::mnuOpenLog_Click() {
    const QString title = runOpenLogCommand(*m_prompts, m_log);
    if (title.isEmpty())
        return;
    setWindowTitle(appTitle() + QStringLiteral(" - ") + title);
    mnuOpenLog->setEnabled(false);
    button(keyOpenLogFile)->setEnabled(false);
    mnuCloseLog->setEnabled(true);
    button(keyCloseLogFile)->setEnabled(true);
}

void frmTerminal::mnuCloseLog_Click() {
    m_log.close();
    mnuOpenLog->setEnabled(true);
    button(keyOpenLogFile)->setEnabled(true);
    mnuCloseLog->setEnabled(false);
    button(keyCloseLogFile)->setEnabled(false);
    setWindowTitle(appTitle());
}

void frmTerminal::mnuProperties_Click() {
    frmProperties dialog(*SerialCtl1, *m_store, *m_prompts, LocalEcho,
                         [this] { refreshConnectionDisplay(); });
    dialog.exec();
}

void frmTerminal::HangUp() {
    mnuOpen_Click();
}

void frmTerminal::imgConnected_Click() {
    mnuOpen_Click();
}

void frmTerminal::imgNotConnected_Click() {
    mnuOpen_Click();
}

void frmTerminal::mnuOpen_Click() {
    PendingFailure pending;
    pending.attempt([&] { SerialCtl1->setPortOpen(!SerialCtl1->PortOpen()); });
    if (pending.pending())
        m_prompts->warn(pending.description());
    refreshConnectionDisplay();
}

void frmTerminal::mnuInputLen_Click() {
    numericParameterCommand(NumericParameter::InputLen, *SerialCtl1, *m_prompts);
}

void frmTerminal::mnuRThreshold_Click() {
    numericParameterCommand(NumericParameter::RThreshold, *SerialCtl1, *m_prompts);
}

void frmTerminal::mnuSThreshold_Click() {
    numericParameterCommand(NumericParameter::SThreshold, *SerialCtl1, *m_prompts);
}

void frmTerminal::mnuParRep_Click() {
    parityReplaceCommand(*SerialCtl1, *m_prompts);
}

void frmTerminal::mnuDTREnable_Click() {
    mnuDTREnable->setChecked(dtrSwitchCommand(*SerialCtl1, *m_prompts, mnuDTREnable->isChecked()));
}

void frmTerminal::mnuHCTS_Click() {
    lineStateQuery(true, *SerialCtl1, *m_prompts);
}

void frmTerminal::mnuHDSR_Click() {
    lineStateQuery(false, *SerialCtl1, *m_prompts);
}

// ---------------------------------------------------------------------------
// Connection display

void frmTerminal::refreshConnectionDisplay() {
    if (m_send)
        m_send->refresh();
    // Each step on its own: one that fails is skipped and the rest still run.
    PendingFailure skipped;
    skipped.attempt([&] { mnuOpen->setChecked(SerialCtl1->PortOpen()); });
    bool open = false;
    skipped.attempt([&] { open = SerialCtl1->PortOpen(); });
    if (open) {
        button(keyHangUpPhone)->setEnabled(true);
        imgConnected->raise();
        skipped.attempt(
            [&] { setPanelText(keySettings, settingsPrefix + SerialCtl1->Settings()); });
        StartConnectClock();
    } else {
        button(keyHangUpPhone)->setEnabled(false);
        imgNotConnected->raise();
        setPanelText(keySettings, settingsPrefix);
        StopConnectClock();
        bool waiting = false;
        skipped.attempt([&] { waiting = SerialCtl1->waitingForDevice(); });
        if (waiting)
            setPanelText(keyConnectTime, QStringLiteral("再接続待ち"));
    }
}

void frmTerminal::StartConnectClock() {
    ConnectStart = m_clock->nowMs();
    Timer1.start();
}

void frmTerminal::StopConnectClock() {
    Timer1.stop();
    setPanelText(keyConnectTime, QString());
}

void frmTerminal::Timer1_Timer() {
    setPanelText(keyConnectTime, formatConnectTime(m_clock->nowMs() - ConnectStart));
}

void frmTerminal::onDeviceLost(const QString& description) {
    refreshConnectionDisplay();
    // Events run while the warning is open: the device may come back meanwhile.
    m_lossWarning = description;
    m_prompts->warn(description);
    m_lossWarning.clear();
}

void frmTerminal::onReconnected(const QString& description) {
    refreshConnectionDisplay();
    setStatusText(QStringLiteral("ｽﾃｰﾀｽ: ") + description);
    enableTimer2();
    if (!m_lossWarning.isEmpty())
        m_prompts->closeMessageBox(m_lossWarning);
}

// ---------------------------------------------------------------------------
// Data path

void frmTerminal::SerialCtl1_OnComm() {
    m_comm->SerialCtl1_OnComm();
}

void frmTerminal::Timer2_Timer() {
    setStatusText(QStringLiteral("ｽﾃｰﾀｽ: "));
    Timer2.stop();
}

void frmTerminal::txtTerm_KeyPress(int& KeyAscii) {
    TerminalKeyPress(KeyAscii, LineBuffer, LineStarted, *SerialCtl1, *txtTerm, *this);
}

bool frmTerminal::writeLog(const QByteArray& bytes, QString* error, qsizetype* written) {
    return m_log.write(bytes, error, written);
}

void frmTerminal::setStatusText(const QString& text) {
    setPanelText(keyStatus, text);
}

void frmTerminal::enableTimer2() {
    Timer2.start();
}
