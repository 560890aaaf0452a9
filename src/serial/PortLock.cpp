#include "serial/PortLock.h"

#include "serial/PortHolder.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Up to 128 bytes is plenty for any lock form; more is not a lock file.
int readSmallFile(const QString& path, QByteArray& content, double* written = nullptr) {
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno;
    char buffer[128];
    ssize_t n;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    const int error = n < 0 ? errno : 0;
    struct stat st {};
    if (written && ::fstat(fd, &st) == 0)
        *written = double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
    ::close(fd);
    if (n >= 0)
        content = QByteArray(buffer, int(n));
    return error;
}

bool exists(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool processAlive(long pid) {
    // EPERM: it runs, as another user.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// When the process started, in seconds since the epoch; -1 when unknown.
double processStart(long pid, const QString& proc) {
    QFile stat(proc + QStringLiteral("/%1/stat").arg(pid)), system(proc + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly) || !system.open(QIODevice::ReadOnly))
        return -1;
    // "pid (comm) state …": comm may hold anything, the fields follow its last ')'.
    const QByteArray line = stat.read(4096);
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    bool ticksRead = false;
    const double ticks = fields.size() > 19 ? fields.at(19).toDouble(&ticksRead) : 0;
    for (const QByteArray& entry : system.readAll().split('\n')) {
        if (ticksRead && entry.startsWith("btime "))
            return entry.mid(6).toDouble() + ticks / double(::sysconf(_SC_CLK_TCK));
    }
    return -1;
}

// HDB form: the pid right-aligned in ten characters, then a newline.
QByteArray hdbContent(long pid) {
    return QByteArray::number(qlonglong(pid)).rightJustified(10, ' ') + '\n';
}

} // namespace

long lockFilePid(const QByteArray& content) {
    const int end = int(content.indexOf('\n'));
    const QByteArray first = (end < 0 ? content : content.left(end)).trimmed();
    if (first.isEmpty() || first.size() > 10)
        return 0;
    for (const char c : first) {
        if (c < '0' || c > '9')
            return 0;
    }
    const qlonglong pid = first.toLongLong();
    return pid > 0 && pid <= INT_MAX ? long(pid) : 0;
}

QString lockFileName(const QString& canonicalDevice) {
    QString name = canonicalDevice;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

PortLock::PortLock(const SystemPaths& paths) : m_proc(paths.proc) {
    // /var/lock is usually a link to /run/lock: look in each folder once.
    QStringList seen;
    for (const QString& dir : paths.lockDirs) {
        const QString real = QFileInfo(dir).canonicalFilePath();
        if (!real.isEmpty() && QFileInfo(real).isDir() && !seen.contains(real)) {
            seen << real;
            m_dirs << dir;
        }
    }
}

PortLock::~PortLock() {
    release();
}

PortLock::Result PortLock::acquire(const QString& devicePath) {
    release();
    Result result;
    const QString device = QFileInfo(devicePath).canonicalFilePath();
    if (device.isEmpty() || m_dirs.isEmpty())
        return result;
    const QString name = lockFileName(device);
    const long self = long(::getpid());
    struct stat node {};
    ::stat(QFile::encodeName(device).constData(), &node);

    for (const QString& dir : m_dirs) {
        const QString path = dir + QLatin1Char('/') + name;
        QByteArray content;
        double written = -1;
        const int error = readSmallFile(path, content, &written);
        // A folder we may not look into hides nothing we could honour.
        if (error == ENOENT || (error != 0 && !exists(path)))
            continue;
        result.lockPath = path;
        if (error != 0) {
            result.outcome = Outcome::Unreadable;
            result.error = error;
            return result;
        }
        const long pid = lockFilePid(content);
        if (pid == 0) {
            // Could be another program half-way through writing it: refuse
            // rather than guess, and let the message show what it holds.
            result.outcome = Outcome::NotAPid;
            result.content = content;
            return result;
        }
        // A lock naming us is another object's in this process: we never
        // keep ours across an acquire. Another live pid was reused since a
        // dead owner wrote the file only if its process started after that
        // (boot time is whole seconds, hence the margin) and has no
        // descriptor on the device: a clock step moves the start times, so
        // time alone never decides.
        bool live = pid == self;
        if (!live && processAlive(pid)) {
            const double started = processStart(pid, m_proc);
            const std::optional<bool> holds =
                started > written + 2 ? holdsDevice(pid, device, node, m_proc) : true;
            live = !holds || *holds;
        }
        if (live) {
            result.outcome = Outcome::HeldByLive;
            result.pid = pid;
            return result;
        }
        if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
            result.outcome = Outcome::StaleKept;
            result.pid = pid;
            result.error = errno;
            return result;
        }
        result.tookOver = true;
    }

    // Written whole under another name, then linked: a reader never sees a
    // half-written file, and of two programs racing only one link succeeds.
    for (const QString& dir : m_dirs) {
        const QString path = dir + QLatin1Char('/') + name;
        // A new file under a name nobody could plant beforehand (O_EXCL):
        // the folder is writable by everyone.
        QByteArray temp = QFile::encodeName(dir + QStringLiteral("/LTMP.XXXXXX"));
        const int fd = ::mkostemp(temp.data(), O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue; // not writable for us: flock and TIOCEXCL still hold
        const QByteArray content = hdbContent(self);
        const bool written =
            ::fchmod(fd, 0644) == 0 &&
            ::write(fd, content.constData(), size_t(content.size())) == ssize_t(content.size());
        const int linked =
            written ? ::link(temp.constData(), QFile::encodeName(path).constData()) : -1;
        const int linkError = errno;
        ::unlink(temp.constData());
        // Known by inode and change time once the links are final: a file
        // made anew can get the freed inode number again.
        ::fstat(fd, &m_written);
        ::close(fd);
        if (linked == 0) {
            m_path = path;
            result.lockPath = path;
            return result;
        }
        if (written && linkError == EEXIST) {
            QByteArray other;
            readSmallFile(path, other);
            result.lockPath = path;
            result.pid = lockFilePid(other);
            result.content = other;
            result.outcome = result.pid != 0 ? Outcome::HeldByLive : Outcome::NotAPid;
            return result;
        }
    }
    return result;
}

void PortLock::release() {
    if (m_path.isEmpty())
        return;
    // Only the file we wrote: another's under the same name stays.
    struct stat st {};
    const QByteArray name = QFile::encodeName(m_path);
    if (::lstat(name.constData(), &st) == 0 && st.st_dev == m_written.st_dev &&
        st.st_ino == m_written.st_ino && st.st_ctim.tv_sec == m_written.st_ctim.tv_sec &&
        st.st_ctim.tv_nsec == m_written.st_ctim.tv_nsec)
        ::unlink(name.constData());
    m_path.clear();
}
