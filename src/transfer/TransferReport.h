#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The protocols lrzsz speaks, and which way the file goes.
enum class TransferProtocol { Zmodem, Ymodem, Xmodem };
enum class TransferDirection { Send, Receive };

QString protocolName(TransferProtocol protocol);

// The lrzsz program and arguments for one transfer. `files` are sent; an
// XMODEM receive writes `files.first()` (XMODEM carries no name).
struct TransferCommand {
    QString program;
    QStringList arguments;
};
TransferCommand transferCommand(TransferProtocol protocol, TransferDirection direction,
                                const QStringList& files);
// Where the lrzsz program is, or empty when it is not installed.
QString findTransferProgram(const QString& program);

// What an lrzsz child says on its error output, read as it comes: the file
// under way, its progress and how it ended. Lines end in CR (progress) or LF.
class TransferReport {
public:
    void feed(const QByteArray& text);

    QString file() const { return m_file; }
    // Bytes of the current file the child says it has sent, and of how many
    // (0 when it did not say).
    qint64 bytes() const { return m_bytes; }
    qint64 total() const { return m_total; }
    // Files the child reported complete, and whether its last word was that.
    int completed() const { return m_completed; }
    bool endedComplete() const { return m_endedComplete; }
    // Files a sender summed up as taken by the receiver.
    int filesSent() const { return m_filesSent; }
    // An XMODEM sender: the blocks it had sent before the one under way,
    // of how many.
    int blocks() const { return m_blocks; }
    int totalBlocks() const { return m_totalBlocks; }
    // The last line that was neither progress nor a completion: the reason a
    // failed transfer gives.
    QString lastMessage() const { return m_lastMessage; }

private:
    void line(const QString& text);

    QByteArray m_partial;
    QString m_file;
    qint64 m_bytes = 0;
    qint64 m_total = 0;
    int m_completed = 0;
    int m_filesSent = 0;
    int m_blocks = 0;
    int m_totalBlocks = 0;
    bool m_endedComplete = false;
    QString m_lastMessage;
};
