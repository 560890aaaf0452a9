#pragma once

#include "caplog/CaptureLog.h"
#include "datapath/DataPath.h"

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QTimer>
#include <memory>

class ClickableImage;
class Clock;
class ISerialCtl;
class Prompts;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QStatusBar;
class QToolBar;
class SendCommands;
class SettingsStore;
class TerminalEdit;

// The main window. The services are the caller's and must outlive it.
class frmTerminal : public QMainWindow, public DataPathHost {
    Q_OBJECT
public:
    frmTerminal(ISerialCtl* serial, Prompts* prompts, SettingsStore* store, Clock* clock,
                QWidget* parent = nullptr);
    ~frmTerminal() override;

    // Controls, in creation order.
    QTimer Timer2;
    TerminalEdit* txtTerm = nullptr;
    QToolBar* tbrToolBar = nullptr;
    QFrame* Frame1 = nullptr;
    ClickableImage* imgConnected = nullptr;
    ClickableImage* imgNotConnected = nullptr;
    QTimer Timer1;
    ISerialCtl* SerialCtl1 = nullptr;
    // OpenLog: runOpenLogCommand sets the file dialog up afresh on every opening.
    QStatusBar* sbrStatus = nullptr;
    // Open folder, closed folder, handset lifted, handset on its cradle,
    // hand holding a form sheet, note sheet.
    QList<QIcon> ImageList1;

    QMenu* mnuFile = nullptr;
    QAction* mnuOpenLog = nullptr;
    QAction* mnuCloseLog = nullptr;
    QAction* M3 = nullptr;
    QAction* mnuFileExit = nullptr;
    QMenu* mnuPort = nullptr;
    QAction* mnuOpen = nullptr;
    QAction* MBar1 = nullptr;
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

    // Form-level state.
    qint16 PromptResult = 0;
    QString ScratchText;
    QString LineBuffer;
    bool LineStarted = false;
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
    void mnuCloseLog_Click() override;
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
    int LogFileNumber() const override { return m_log.LogFileNumber(); }
    bool writeLog(const QByteArray& bytes, QString* error, qsizetype* written) override;
    void setStatusText(const QString& text) override;
    void bytesReceived(const QByteArray& bytes) override;
    void enableTimer2() override;

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
    void composeToolBar();
    void composeIndicator();
    void composeStatusBar();
    void composeSending();
    void connectSignals();
    void alignBars();
    void setPanelText(const QString& key, const QString& text);
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
    std::unique_ptr<CommEventHandler> m_comm;
    SendCommands* m_send = nullptr;
    bool m_loaded = false;
    bool m_unloading = false;
    bool m_ended = false;
    QString m_lossWarning; // the loss warning's text while it is shown
};
