#pragma once

#include "transfer/TransferJob.h"
#include "transfer/ZmodemDetector.h"

#include <QObject>
#include <memory>

class ISerialCtl;
class Prompts;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class SendCommands;
class SendPort;
class SettingsStore;
class TerminalSession;

// The port menu's file transfers: the items, the receive folder, a ZMODEM
// start spotted in what the device sends, the progress and stop button in
// the status bar, and one line in the terminal saying how each one ended.
// While a transfer runs it holds the received bytes and the keyboard.
class TransferController : public QObject {
    Q_OBJECT
public:
    TransferController(ISerialCtl& serial, Prompts& prompts, SettingsStore& store,
                       SendCommands& send, QWidget* window);
    ~TransferController() override;

    // The session whose received bytes a transfer takes over.
    void attach(TerminalSession& session);
    // Puts the submenu at the end of the port menu; the sending items there
    // stay off while a transfer runs.
    void addTo(QMenu* portMenu);

    QMenu* mnuTransfer;
    QAction* mnuSendZ;
    QAction* mnuSendY;
    QAction* mnuSendX;
    QAction* mnuReceiveZ;
    QAction* mnuReceiveX;
    QAction* mnuReceiveFolder;
    QAction* mnuAutoZ;
    QWidget* fraTransfer;
    QLabel* lblTransfer;
    QPushButton* cmdTransferStop;

    void send(TransferProtocol protocol);
    void receiveZ();
    void receiveX();
    void chooseFolder();
    void toggleAutoZ();
    // Brings the items in line with the port and what is installed.
    void refresh();
    bool busy() const { return m_job.running(); }
    void stop() { m_job.cancel(); }
    void stopForExit() { m_job.cancel(); }
    TransferJob& job() { return m_job; }

private:
    void start(TransferProtocol protocol, TransferDirection direction, const QStringList& files,
               const QByteArray& received = QByteArray());
    void detected(const QByteArray& bytes);
    void showProgress(const QString& file, qint64 bytes, qint64 total, qint64 rate);
    void finished(const TransferJob::Result& result);
    bool eventFilter(QObject* watched, QEvent* event) override;

    ISerialCtl& m_serial;
    Prompts& m_prompts;
    SettingsStore& m_store;
    SendCommands& m_send;
    QWidget* m_window;
    std::unique_ptr<SendPort> m_port;
    TransferJob m_job;
    ZmodemDetector m_detector;
    TerminalSession* m_session = nullptr;
    QString m_what; // the running transfer, for its messages
};
