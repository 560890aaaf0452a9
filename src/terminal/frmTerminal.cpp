#include "terminal/frmTerminal.h"

#include "graph/GraphController.h"
#include "linecmds/LineCommands.h"
#include "platform/Clock.h"
#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "screen/FindBar.h"
#include "screen/ScreenControls.h"
#include "screen/TerminalView.h"
#include "script/ScriptCommands.h"
#include "sending/SendCommands.h"
#include "serial/ISerialCtl.h"
#include "settings/PortSettings.h"
#include "settings/frmProperties.h"
#include "terminal/ClickableImage.h"
#include "terminal/ConnectTime.h"
#include "terminal/ShutdownWait.h"
#include "terminal/WindowParts.h"
#include "transfer/TransferController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

using namespace windowparts;

namespace {

// Between looks at the transmit buffer during shutdown.
constexpr int drainPauseMs = 25;

} // namespace

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

    txtTerm = new TerminalView(m_client);
    txtTerm->setObjectName(QStringLiteral("txtTerm"));
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
    HexSilence.setInterval(int(HexRows::SilenceMs));
    HexSilence.setSingleShot(true);

    composeStatusBar();
    composeMenus();

    m_session = std::make_unique<TerminalSession>(*txtTerm, *this, SerialCtl1->codePage());
    m_screen =
        new ScreenControls(*txtTerm, *m_session, *m_prompts, *m_store, settingsApp(), m_client);
    m_screen->relayout = [this] { Form_Resize(); };
    mnuView->addAction(m_screen->mnuScrollback);
    addActions(m_screen->findActions);
    m_graph = new GraphController(*m_session, txtTerm, *m_prompts, *m_store, this);
    m_graph->addTo(mnuView);
    m_transfer->attach(*m_session);
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

void frmTerminal::connectSignals() {
    connect(imgConnected, &ClickableImage::Click, this,
            [this] { guarded([&] { imgConnected_Click(); }); });
    connect(imgNotConnected, &ClickableImage::Click, this,
            [this] { guarded([&] { imgNotConnected_Click(); }); });
    connect(&Timer1, &QTimer::timeout, this, [this] { guarded([&] { Timer1_Timer(); }); });
    connect(&Timer2, &QTimer::timeout, this, [this] { guarded([&] { Timer2_Timer(); }); });
    connect(&HexSilence, &QTimer::timeout, this,
            [this] { guarded([&] { m_session->endHexRow(); }); });
    txtTerm->keyPressHandler = [this](int& keyCode) {
        if (m_ended) {
            keyCode = 0;
            return;
        }
        guarded([&] { txtTerm_KeyPress(keyCode); });
    };
    txtTerm->pasteHandler = [this](const QString& text) {
        return !m_ended && m_send->paste(text, [this](int code) { txtTerm->typeCharacter(code); });
    };

    connect(SerialCtl1, &ISerialCtl::OnComm, this,
            [this] { guarded([&] { SerialCtl1_OnComm(); }); });
    // A port closed under a command (a loss inside a settings apply) still
    // shows as closed.
    connect(SerialCtl1, &ISerialCtl::PortClosed, this, [this] {
        guarded([&] {
            m_session->portClosed(*SerialCtl1);
            refreshConnectionDisplay();
        });
    });
    connect(SerialCtl1, &ISerialCtl::DeviceLost, this,
            [this](const QString& description) { guarded([&] { onDeviceLost(description); }); });
    connect(SerialCtl1, &ISerialCtl::Reconnected, this,
            [this](const QString& description) { guarded([&] { onReconnected(description); }); });
    const auto settled = [this](const QString& failure) {
        guarded([&] {
            refreshConnectionDisplay();
            if (!failure.isEmpty())
                m_prompts->warn(failure);
        });
    };
    connect(SerialCtl1, &ISerialCtl::OpenSettled, this, settled);
    connect(SerialCtl1, &ISerialCtl::SettingsRefused, this, settled);
    connect(SerialCtl1, &ISerialCtl::Notice, this, [this](const QString& description) {
        showStatus(QStringLiteral("ｽﾃｰﾀｽ: ") + description);
        clearStatusSoon();
    });
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
    pending.attempt([&] { m_session->LineStarted = true; });
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
    runLoadingSequence(*SerialCtl1, *m_store, *m_prompts, pending, m_session->LocalEcho);
    pending.clear();
    loadViewSettings();
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
    const int findHeight = m_screen->barHeight();
    const int barsHeight = sbrStatus->height() + tbrToolBar->height() + findHeight;
    if (barsHeight < innerHeight) {
        m_graph->place(QRect(0, tbrToolBar->height(), innerWidth, innerHeight - barsHeight));
        if (findHeight > 0)
            m_screen->bar()->setGeometry(0, innerHeight - sbrStatus->height() - findHeight,
                                         innerWidth, findHeight);
    }
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
    m_send->stopForExit();
    m_transfer->stopForExit();

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
    if (logOpen())
        mnuCloseLog_Click();
    closeRawLog();
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
    HexSilence.stop();
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
    frmProperties dialog(*SerialCtl1, *m_store, *m_prompts, m_session->LocalEcho,
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
    // An open still connecting is ended as an open port would be closed.
    pending.attempt(
        [&] { SerialCtl1->setPortOpen(!SerialCtl1->PortOpen() && !SerialCtl1->connecting()); });
    if (pending.pending())
        m_prompts->warn(pending.description());
    refreshConnectionDisplay();
}

// ---------------------------------------------------------------------------
// Data path

void frmTerminal::SerialCtl1_OnComm() {
    m_session->onComm(*SerialCtl1);
    if (m_session->hexView())
        HexSilence.start();
}

void frmTerminal::Timer2_Timer() {
    showStatus(QStringLiteral("ｽﾃｰﾀｽ: "));
    Timer2.stop();
}

void frmTerminal::txtTerm_KeyPress(int& KeyAscii) {
    m_session->keyPress(KeyAscii, *SerialCtl1);
}

bool frmTerminal::writeLog(const QByteArray& bytes, QString* error, qsizetype* written) {
    return m_log.write(bytes, error, written);
}

void frmTerminal::closeLog() {
    mnuCloseLog_Click();
}

void frmTerminal::showStatus(const QString& text) {
    setPanelText(keyStatus, text);
}

void frmTerminal::clearStatusSoon() {
    Timer2.start();
}

bool frmTerminal::writeRawLog(const QByteArray& bytes, QString* error, qsizetype* written) {
    return m_rawLog.write(bytes, error, written);
}

void frmTerminal::closeRawLog() {
    m_rawLog.close();
    mnuRawLog->setChecked(false);
}
