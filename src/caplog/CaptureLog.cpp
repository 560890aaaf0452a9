#include "caplog/CaptureLog.h"

#include "platform/Prompts.h"
#include "platform/SystemError.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray encodedPath(const QString& path) {
    return QFile::encodeName(path);
}

QString openError(const QString& path, int error) {
    return QStringLiteral("%1 を開けません: %2").arg(path, describeErrno(error));
}

class RealLogFileSystem : public LogFileSystem {
public:
    bool regularFileExists(const QString& path, QString* error) override {
        struct stat info {};
        if (::stat(encodedPath(path).constData(), &info) == 0)
            return S_ISREG(info.st_mode);
        const int reason = errno;
        // Missing, or a path through something that is not a folder: no file.
        if (reason != ENOENT && reason != ENOTDIR && error)
            *error = QStringLiteral("%1 を調べられません: %2").arg(path, describeErrno(reason));
        return false;
    }
};

// The dialog's default extension, for names typed without one. A folder keeps
// its name so that opening it reports what it is.
QString withDefaultSuffix(const QString& path, const QString& suffix) {
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name.contains(QLatin1Char('.')))
        return path;
    struct stat info {};
    if (::stat(encodedPath(path).constData(), &info) == 0 && S_ISDIR(info.st_mode))
        return path;
    return path + QLatin1Char('.') + suffix;
}

} // namespace

LogFileSystem& realLogFileSystem() {
    static RealLogFileSystem files;
    return files;
}

CaptureLog::~CaptureLog() {
    close();
}

bool CaptureLog::open(const QString& path, QString* error, bool empty) {
    close();
    // Non-blocking only for the open itself: a FIFO without a reader would
    // otherwise hang the window; O_NOCTTY keeps a terminal chosen as the log
    // from becoming ours.
    // Emptied by the open itself, never before it: "overwrite" does not lose
    // the old log to an open that then fails.
    const int truncate = empty ? O_TRUNC : 0;
    int fd;
    do {
        fd = ::open(encodedPath(path).constData(),
                    O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | truncate, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int reason = errno;
        if (error)
            *error = openError(path, reason);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // A device or pipe cannot be positioned; it is still written to.
    ::lseek(fd, 0, SEEK_END);

    m_fd = fd;
    m_path = path;
    m_number = m_nextNumber;
    m_nextNumber = m_nextNumber == 32767 ? 1 : qint16(m_nextNumber + 1);
    return true;
}

bool CaptureLog::write(const QByteArray& bytes, QString* error, qsizetype* written) {
    if (written)
        *written = 0;
    if (m_fd < 0) {
        if (error)
            *error = QStringLiteral("ログ ファイルが開いていません");
        return false;
    }
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t done = ::write(m_fd, data, size_t(left));
        if (done <= 0) {
            // Nothing taken and no reason given: stop rather than spin.
            const int reason = done < 0 ? errno : EIO;
            if (reason == EINTR)
                continue;
            if (error)
                *error =
                    QStringLiteral("%1 に書き込めません: %2").arg(m_path, describeErrno(reason));
            return false;
        }
        data += done;
        left -= done;
        if (written)
            *written += done;
    }
    return true;
}

void CaptureLog::close() {
    if (m_fd >= 0) {
        // Linux releases the descriptor even when close reports EINTR.
        ::close(m_fd);
        m_fd = -1;
    }
    m_number = 0;
    m_path.clear();
}

QString runOpenLogCommand(Prompts& prompts, CaptureLog& log) {
    return runOpenLogCommand(prompts, log, realLogFileSystem());
}

QString runOpenLogCommand(Prompts& prompts, CaptureLog& log, LogFileSystem& files) {
    FileDialogSetup setup;
    setup.title = QStringLiteral("通信ﾛｸﾞ ﾌｧｲﾙを開く");
    setup.filters = {QStringLiteral("ﾛｸﾞ ﾌｧｲﾙ (*.LOG) (*.log *.LOG)"),
                     QStringLiteral("すべてのﾌｧｲﾙ (*.*) (*)")};
    setup.selectedFilter = 0;
    setup.defaultSuffix = QStringLiteral("LOG");

    QString path;
    int answer = 0;
    for (;;) {
        setup.fileName.clear();
        const FileDialogResult chosen = prompts.fileOpen(setup);
        if (chosen.cancelled)
            return QString();
        path = chosen.typed ? withDefaultSuffix(chosen.path, setup.defaultSuffix) : chosen.path;

        QString lookupError;
        const bool exists = files.regularFileExists(path, &lookupError);
        if (!lookupError.isEmpty()) {
            prompts.warn(lookupError);
            return QString();
        }
        answer = 0;
        if (exists)
            answer = prompts.messageBox(
                QStringLiteral("既存のﾌｧｲﾙ - ") + path + QStringLiteral("を上書きしますか ?"),
                QString(), MsgButtons::YesNoCancel, MsgIcon::Question, AnswerYes);
        if (answer != AnswerCancel)
            break;
    }

    QString error;
    if (!log.open(path, &error, answer == AnswerYes)) {
        prompts.warn(error);
        return QString();
    }
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}
