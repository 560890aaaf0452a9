#pragma once

#include "datapath/ReceiveConsumer.h"
#include "transfer/TransferReport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTimer>
#include <memory>

class QSocketNotifier;
class QTemporaryDir;
class SendPort;

// One lrzsz child joined to the port by pipes: what the port receives goes to
// its input, its output goes to the port as fast as the port takes it, and
// its error output tells progress and result. The child never sees the
// device. Nothing here waits on the child.
class TransferJob : public QObject, public ReceiveTakeover {
    Q_OBJECT
public:
    enum class End { Completed, Cancelled, Closed, Failed };
    struct Result {
        End end = End::Failed;
        TransferProtocol protocol = TransferProtocol::Zmodem;
        TransferDirection direction = TransferDirection::Send;
        QStringList files; // sent, or received under these names in the folder
        qint64 bytes = 0;
        QString detail; // why it failed
    };

    explicit TransferJob(SendPort& port, QObject* parent = nullptr);
    ~TransferJob() override;

    // Starts the child: for a send `files` are paths, for a receive files go
    // into `folder` (an XMODEM receive names its one file in `files`).
    // `received` are bytes already read that belong to the transfer. False
    // with `error` when it cannot start.
    bool start(TransferProtocol protocol, TransferDirection direction, const QStringList& files,
               const QString& folder, const QByteArray& received, QString* error);
    bool running() const { return m_running; }
    // Ends the child at once and sends the device the protocol's cancel.
    void cancel();

    void receivedBytes(const QByteArray& bytes, qint64 readMs) override;
    void portClosed() override;

    // A child silent this long, on the line and on stderr, after the
    // transfer moved data is ended.
    int idleLimitMs = 10000;
    // An XMODEM child whose receiver has the file, still there after this, is ended.
    int completeGraceMs = 500;
    // A YMODEM sender whose receiver took every file, after this.
    int batchGraceMs = 3000;
    static constexpr int lowWater = 8192;
    static const QByteArray cancelBytes;

signals:
    void progress(const QString& file, qint64 bytes, qint64 total, qint64 bytesPerSecond);
    void finished(const TransferJob::Result& result);

private:
    void pump();
    void watch();
    void childEnded(int exitCode, QProcess::ExitStatus status);
    void stopReading();
    void endChild(End end, const QString& detail);
    void conclude();
    // The receiver has all the data, as far as the child's words tell.
    bool dataDone() const;

    SendPort& m_port;
    QProcess m_process;
    TransferReport m_report;
    std::unique_ptr<QTemporaryDir> m_temp;
    QSocketNotifier* m_notifier = nullptr;
    int m_out = -1; // read end of the child's output
    QTimer m_pumpTimer;
    QTimer m_watch;
    QElapsedTimer m_clock;
    Result m_result;
    QString m_folder;
    bool m_running = false;
    bool m_exited = false;
    bool m_forced = false; // ended by us: the reason is already set
    int m_exitCode = -1;
    QProcess::ExitStatus m_exitStatus = QProcess::NormalExit;
    qint64 m_toPort = 0;
    qint64 m_fromPort = 0;
    qint64 m_lastByteMs = 0; // on the line or from the child's stderr
    qint64 m_completeMs = -1;
    qint64 m_eotAt = -1; // m_toPort just after a lone EOT
    int m_fileCount = 0;
    qint64 m_lastProgressMs = -1;
};
