#pragma once

#include "caplog/CaptureLog.h"
#include "datapath/DataPath.h"
#include "platform/Failure.h"
#include "platform/Prompts.h"

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QTimer>
#include <memory>

class ClickableImage;
class Clock;
class GraphController;
class ISerialCtl;
class Prompts;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QStatusBar;
class QToolBar;
class ScreenControls;
class ScriptCommands;
class SendCommands;
class SettingsStore;
class TerminalView;
class TransferController;

// The main window. The services are the caller's and must outlive it.
class frmTerminal : public QMainWindow, public DataPathHost {
    Q_OBJECT
public:
    frmTerminal(ISerialCtl* serial, Prompts* prompts, SettingsStore* store, Clock* clock,
                QWidget* parent = nullptr);
    ~frmTerminal() override;

    // Controls, in creation order.
    QTimer Timer2;
    TerminalView* txtTerm = nullptr;
    QToolBar* tbrToolBar = nullptr;
    QFrame* Frame1 = nullptr;
    ClickableImage* imgConnected = nullptr;
    ClickableImage* imgNotConnected = nullptr;
    QTimer Timer1;
    // Ends the hex row being filled once the line has been silent.
    QTimer HexSilence;
    ISerialCtl* SerialCtl1 = nullptr;
    // OpenLog: runOpenLogCommand sets the file dialog up afresh on every opening.
    QStatusBar* sbrStatus = nullptr;
    // Open folder, closed folder, handset lifted, handset on its cradle,
    // hand holding a form sheet, note sheet.
    QList<QIcon> ImageList1;

    QMenu* mnuFile = nullptr;
    QAction* mnuOpenLog = nullptr;
    QAction* mnuCloseLog = nullptr;
    QAction* mnuRawLog = nullptr;
    QAction* M3 = nullptr;
    QAction* mnuFileExit = nullptr;
    QMenu* mnuPort = nullptr;
    QAction* mnuOpen = nullptr;
    QAction* MBar1 = nullptr;
    QAction* MBar2 = nullptr;
    QAction* mnuProperties = nullptr;
    QMenu* mnuSerialCtl = nullptr;
    QAction* mnuInputLen = nullptr;
    QAction* mnuRThreshold = nullptr;
    QAction* mnuSThreshold = nullptr;
    QAction* mnuParRep = nullptr;
    QAction* mnuDTREnable = nullptr;
    QAction* Bar3 = nullptr;
    QAction* mnuHCTS = nullptr;
    QAction* mnuHDSR = nullptr;
    QMenu* mnuView = nullptr;
    QAction* mnuTimestamp = nullptr;
    QAction* mnuHexView = nullptr;
    QMenu* mnuCharset = nullptr;
    QList<QAction*> mnuCharsetItems; // Shift_JIS, UTF-8, EUC-JP, JIS
    QAction* mnuEscapes = nullptr;

    // Form-level state.
    qint16 PromptResult = 0;
    QString ScratchText;
    qint64 ConnectStart = 0; // on the injected clock, in ms

    // The toolbar button with this key, or nullptr.
    QAction* button(const QString& key) const;
    QLabel* panel(const QString& key) const;
    QString panelText(const QString& key) const;
    // Whichever of imgConnected and imgNotConnected is in front.
    ClickableImage* frontIndicator() const;
    // The area below the menu bar that holds toolbar, terminal and status bar.
    QWidget* clientArea() const { return m_client; }
    CaptureLog& captureLog() { return m_log; }
    // The terminal's session: echo, the typed line, decoding and logging.
    TerminalSession& session() { return *m_session; }
    // Scrollback and the find bar over the terminal's lines.
    ScreenControls& screenControls() { return *m_screen; }
    GraphController& graph() { return *m_graph; }
    // Twips to pixels: 15 per pixel at 96 dots per inch.
    int twips(int value) const;

    // Start-up, layout and shutdown.
    void Form_Load();
    void Form_Resize();
    void Form_Unload(bool& Cancel);
    void mnuFileExit_Click();

    // Commands.
    void tbrToolBar_ButtonClick(const QString& key);
    virtual void mnuOpenLog_Click();
    virtual void mnuCloseLog_Click();
    virtual void mnuProperties_Click();
    virtual void HangUp();
    void mnuOpen_Click();
    void imgConnected_Click();
    void imgNotConnected_Click();
    void mnuInputLen_Click();
    void mnuRThreshold_Click();
    void mnuSThreshold_Click();
    void mnuParRep_Click();
    void mnuDTREnable_Click();
    void mnuHCTS_Click();
    void mnuHDSR_Click();
    void mnuRawLog_Click();
    void mnuTimestamp_Click();
    void mnuHexView_Click();
    // One of the character set items, by its code page.
    void chooseCharset(const QByteArray& codePage);
    void mnuEscapes_Click();

    // Connection display.
    void refreshConnectionDisplay() override;
    void StartConnectClock();
    void StopConnectClock();
    void Timer1_Timer();

    // Data path.
    void SerialCtl1_OnComm();
    void Timer2_Timer();
    void txtTerm_KeyPress(int& KeyAscii);

    // DataPathHost.
    Prompts& prompts() override { return *m_prompts; }
    int LogFileNumber() const { return m_log.LogFileNumber(); }
    bool logOpen() const override { return LogFileNumber() != 0; }
    bool writeLog(const QByteArray& bytes, QString* error, qsizetype* written) override;
    void closeLog() override;
    bool rawLogOpen() const override { return m_rawLog.LogFileNumber() != 0; }
    bool writeRawLog(const QByteArray& bytes, QString* error, qsizetype* written) override;
    void closeRawLog() override;
    void showStatus(const QString& text) override;
    void clearStatusSoon() override;
    void bytesReceived(const QByteArray& bytes) override;

    void setVisible(bool visible) override;

signals:
    // The program has ended: the window is gone and no handler runs any more.
    void ended();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Step 6 of the load; throws Failure when there is no screen to centre on.
    virtual void centreOnScreen();

private:
    void composeMenus();
    void composeFileMenu();
    void composePortMenu();
    void composeSerialCtlMenu();
    void composeViewMenu();
    void composeScriptMenu();
    // A handler of nullptr leaves the item unwired.
    QMenu* addMenu(QMenu* parent, const char* name, const char* caption);
    QAction* addItem(QMenu* menu, const char* name, const char* caption,
                     void (frmTerminal::*handler)());
    QAction* addCheckItem(QMenu* menu, const char* name, const char* caption,
                          void (frmTerminal::*handler)());
    QAction* addSeparator(QMenu* menu, const char* name);
    void composeToolBar();
    void composeIndicator();
    void composeStatusBar();
    void connectSignals();
    void alignBars();
    void setPanelText(const QString& key, const QString& text);
    void loadViewSettings();
    void saveViewSetting(const char* key, const QString& value);
    void showCharsetChoice();
    void onDeviceLost(const QString& description);
    void onReconnected(const QString& description);
    void letEventsRun();
    void end();
    template <class Handler> void guarded(Handler&& handler);

    Prompts* m_prompts;
    SettingsStore* m_store;
    Clock* m_clock;
    QWidget* m_client = nullptr;
    QMap<QString, QAction*> m_buttons;
    QMap<QString, QLabel*> m_panels;
    CaptureLog m_log;
    CaptureLog m_rawLog;
    bool m_wasOpen = false;
    std::unique_ptr<TerminalSession> m_session;
    // After the session: a running script leaves it before it goes.
    std::unique_ptr<ScriptCommands> m_script;
    SendCommands* m_send = nullptr;
    TransferController* m_transfer = nullptr;
    ScreenControls* m_screen = nullptr;
    GraphController* m_graph = nullptr;
    bool m_loaded = false;
    bool m_unloading = false;
    bool m_ended = false;
    QString m_lossWarning; // the loss warning's text while it is shown
};

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
