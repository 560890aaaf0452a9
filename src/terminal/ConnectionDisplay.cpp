#include "terminal/frmTerminal.h"

#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "sending/SendCommands.h"
#include "serial/ISerialCtl.h"
#include "terminal/ClickableImage.h"
#include "terminal/ConnectTime.h"
#include "terminal/WindowParts.h"

#include <QAction>

using namespace windowparts;

namespace {
const QString settingsPrefix = QStringLiteral("設定: ");
} // namespace

// ---------------------------------------------------------------------------
// Connection display

void frmTerminal::bytesReceived(const QByteArray& bytes) {
    m_send->received(bytes);
}

void frmTerminal::refreshConnectionDisplay() {
    m_send->refresh();
    // Each step on its own: one that fails is skipped and the rest still run.
    PendingFailure skipped;
    bool open = false, connecting = false;
    skipped.attempt([&] { open = SerialCtl1->PortOpen(); });
    skipped.attempt([&] { connecting = SerialCtl1->connecting(); });
    mnuOpen->setChecked(open || connecting);
    if (open && !m_wasOpen)
        m_session->portOpened();
    m_wasOpen = open;
    if (open) {
        button(keyHangUpPhone)->setEnabled(true);
        imgConnected->raise();
        skipped.attempt(
            [&] { setPanelText(keySettings, settingsPrefix + SerialCtl1->Settings()); });
        StartConnectClock();
    } else {
        // Hanging up also ends a connection still being made.
        button(keyHangUpPhone)->setEnabled(connecting);
        imgNotConnected->raise();
        setPanelText(keySettings, settingsPrefix);
        StopConnectClock();
        bool waiting = false;
        skipped.attempt([&] { waiting = SerialCtl1->waitingForDevice(); });
        if (connecting)
            setPanelText(keyConnectTime, QStringLiteral("接続中"));
        else if (waiting)
            setPanelText(keyConnectTime, QStringLiteral("再接続待ち"));
    }
}

void frmTerminal::StartConnectClock() {
    ConnectStart = m_clock->nowMs();
    Timer1.start();
    setPanelText(keyConnectTime, QString()); // no wait shown until the first tick
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
    showStatus(QStringLiteral("ｽﾃｰﾀｽ: ") + description);
    clearStatusSoon();
    if (!m_lossWarning.isEmpty())
        m_prompts->closeMessageBox(m_lossWarning);
}
