#include "sending/SendFile.h"

#include "platform/Failure.h"
#include "platform/SystemError.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString unreadable(const QString& path, int error) {
    return QStringLiteral("%1 を読めません: %2").arg(path, describeErrno(error));
}

class FileSource : public SendSource {
public:
    FileSource(int fd, qint64 size, QString path)
        : m_fd(fd), m_size(size), m_path(std::move(path)) {}
    ~FileSource() override { ::close(m_fd); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    qint64 size() const override { return m_size; }
    // Up to the size it had when chosen: what is appended since is not sent.
    QByteArray read(qint64 max) override {
        const qint64 want = std::min(max, m_size - m_read);
        if (want <= 0)
            return {};
        QByteArray bytes(qsizetype(want), Qt::Uninitialized);
        ssize_t n;
        do {
            n = ::read(m_fd, bytes.data(), size_t(want));
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            throw Failure(unreadable(m_path, errno));
        if (n == 0)
            throw Failure(QStringLiteral("%1 は送信中に短くなりました。").arg(m_path));
        bytes.truncate(qsizetype(n));
        m_read += n;
        return bytes;
    }

private:
    int m_fd;
    qint64 m_size;
    qint64 m_read = 0;
    QString m_path;
};

} // namespace

std::unique_ptr<SendSource> openSendFile(const QString& path, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    const auto notRegular = [&] {
        *error = QStringLiteral("%1 は通常のﾌｧｲﾙではないため送信できません。").arg(path);
        return nullptr;
    };
    // Looked at before the open: opening a port or a FIFO has effects of its own.
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        *error = unreadable(path, errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode))
        return notRegular();
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = unreadable(path, errno);
        return nullptr;
    }
    // Replaced in between by something else: looked at again through the descriptor.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return notRegular();
    }
    return std::make_unique<FileSource>(fd, qint64(st.st_size), path);
}
