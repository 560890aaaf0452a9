#pragma once

#include "sending/Pacing.h"
#include "sending/SendEngine.h"

#include <QObject>
#include <QStringDecoder>
#include <functional>
#include <memory>

class Clock;
class ISerialCtl;
class Prompts;
class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class SettingsStore;

// The port menu's sending commands: a file or hex bytes sent unchanged and
// paced, a paced paste, BREAK, the RTS line and the pacing dialog. One send
// runs at a time; its progress and stop button sit in the status bar.
class SendCommands : public QObject {
    Q_OBJECT
public:
    SendCommands(ISerialCtl& serial, Prompts& prompts, SettingsStore& store, const Clock& clock,
                 QWidget* window);
    ~SendCommands() override;

    QAction* mnuSendFile;
    QAction* mnuSendHex;
    QAction* mnuBreak;
    QAction* mnuRTS;
    QAction* mnuPacing;
    // For the status bar: what is sent of how much, and the stop button,
    // shown from the first send on.
    QWidget* fraSend;
    QLabel* lblSend;
    QProgressBar* barSend;
    QPushButton* cmdStop;

    void mnuSendFile_Click();
    void mnuSendHex_Click();
    void mnuBreak_Click();
    void mnuRTS_Click();
    void mnuPacing_Click();

    // Brings the items in line with the port: open or closed, flow control.
    void refresh();
    // Bytes the device sent, for a send waiting for its echo.
    void received(const QByteArray& bytes);
    // A paste of several lines while pacing is on is typed line by line,
    // `type` taking one character as if typed; false leaves it to the caller.
    bool paste(const QString& text, const std::function<void(int)>& type);
    bool busy() const { return m_sender.busy(); }
    // Bytes of the running or last send that have left the port's queue.
    qsizetype sent() const { return m_sender.sent(); }
    void stop();
    // The program ends: a running send stops and says how far it got.
    void stopForExit();
    const Pacing& pacing() const { return m_pacing; }
    // Takes and stores new pacing; false after telling the user it was not stored.
    bool setPacing(const Pacing& pacing);

private:
    class TypingPort;
    void start(SendPort& port, QByteArray bytes, const QString& what);
    void portClosed();
    void showProgress(qsizetype sent, qsizetype total);
    void finished(SendEngine::End end, qsizetype sent, qsizetype total, const QString& failure);
    bool eventFilter(QObject* watched, QEvent* event) override;
    template <class Step> bool attempt(Step&& step);

    ISerialCtl& m_serial;
    Prompts& m_prompts;
    SettingsStore& m_store;
    QWidget* m_window;
    Pacing m_pacing;
    Sender m_sender;
    std::unique_ptr<SendPort> m_serialPort;
    std::unique_ptr<TypingPort> m_typingPort;
    QString m_what; // what the running send sends, for its messages
    bool m_exiting = false;
};
