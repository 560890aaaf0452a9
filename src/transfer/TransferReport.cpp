#include "transfer/TransferReport.h"

#include <QRegularExpression>
#include <QStandardPaths>

QString protocolName(TransferProtocol protocol) {
    switch (protocol) {
    case TransferProtocol::Zmodem:
        return QStringLiteral("ZMODEM");
    case TransferProtocol::Ymodem:
        return QStringLiteral("YMODEM");
    case TransferProtocol::Xmodem:
        return QStringLiteral("XMODEM");
    }
    return QString();
}

TransferCommand transferCommand(TransferProtocol protocol, TransferDirection direction,
                                const QStringList& files) {
    // -vv: the file names, progress and the end on stderr, whatever stdout is.
    // -b: bytes unchanged. Receivers run in a folder of their own; a name
    // taken there is renamed, and ZMODEM/YMODEM names stay inside it (-R).
    static const char* const programs[3][2] = {{"sz", "rz"}, {"sb", "rb"}, {"sx", "rx"}};
    const bool send = direction == TransferDirection::Send;
    const bool xmodem = protocol == TransferProtocol::Xmodem;
    TransferCommand command;
    command.program = QLatin1String(programs[int(protocol)][send ? 0 : 1]);
    command.arguments = {QStringLiteral("-vv"), QStringLiteral("-b")};
    if (!send)
        command.arguments << (xmodem ? QStringList{QStringLiteral("-c")}
                                     : QStringList{QStringLiteral("-E"), QStringLiteral("-R")});
    if (send || xmodem)
        command.arguments << QStringLiteral("--") << (send ? files : files.mid(0, 1));
    return command;
}

QString findTransferProgram(const QString& program) {
    return QStandardPaths::findExecutable(program);
}

void TransferReport::feed(const QByteArray& text) {
    m_partial += text;
    qsizetype start = 0;
    for (qsizetype i = 0; i < m_partial.size(); ++i) {
        const char c = m_partial.at(i);
        if (c != '\r' && c != '\n')
            continue;
        line(QString::fromLocal8Bit(m_partial.mid(start, i - start)).trimmed());
        start = i + 1;
    }
    m_partial.remove(0, start);
    // A line that never ends must not grow without bound.
    if (m_partial.size() > 4096)
        m_partial.clear();
}

void TransferReport::line(const QString& text) {
    if (text.isEmpty())
        return;
    static const QRegularExpression fileLine(
        QStringLiteral("^(?:Sending|Receiving):? (.+?)(?:, (\\d+) blocks:.*)?$"));
    static const QRegularExpression sentLine(
        QStringLiteral("^Bytes Sent:\\s*(\\d+)(/\\s*(\\d+))?"));
    static const QRegularExpression sectorsLine(
        QStringLiteral("^Xmodem sectors/kbytes sent: *(\\d+)/"));
    if (const auto m = fileLine.match(text); m.hasMatch()) {
        m_file = m.captured(1);
        m_bytes = m_total = 0;
        m_blocks = 0;
        m_totalBlocks = m.captured(2).toInt();
        m_endedComplete = false;
        return;
    }
    if (const auto m = sentLine.match(text); m.hasMatch()) {
        m_bytes = m.captured(1).toLongLong();
        if (!m.captured(3).isEmpty())
            m_total = m.captured(3).toLongLong();
        else
            ++m_filesSent; // the summary: the receiver took the whole file
        return;
    }
    if (const auto m = sectorsLine.match(text); m.hasMatch()) {
        m_blocks = m.captured(1).toInt();
        return;
    }
    if (text == QLatin1String("Sending:") || text.startsWith(QLatin1String("Ymodem sectors")) ||
        text.startsWith(QLatin1String("Blocks received")) ||
        text.startsWith(QLatin1String("Bytes received")) ||
        text.contains(QLatin1String("waiting to receive")) ||
        text.contains(QLatin1String("ready to receive")))
        return;
    if (text == QLatin1String("Transfer complete")) {
        ++m_completed;
        m_endedComplete = true;
        return;
    }
    m_endedComplete = false;
    m_lastMessage = text;
}
