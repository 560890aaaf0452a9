#include "serial/PortHolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QList<long> processIds(const SystemPaths& paths) {
    QList<long> pids;
    const QStringList names = QDir(paths.proc).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool number = false;
        const long pid = name.toLong(&number);
        if (number && pid > 0)
            pids << pid;
    }
    return pids;
}

void addOnce(QList<ProcessRef>& list, long pid, const SystemPaths& paths) {
    for (const ProcessRef& known : list) {
        if (known.pid == pid)
            return;
    }
    list.append({pid, processName(pid, paths)});
}

// flock holders of the inode: /proc/locks gives "MAJ:MIN:INODE" in hex:hex:dec.
void flockHolders(const struct stat& device, const SystemPaths& paths, QList<ProcessRef>& found) {
    QFile locks(paths.proc + QStringLiteral("/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return;
    const QByteArray key = QByteArray::number(major(device.st_dev), 16).rightJustified(2, '0') +
                           ':' +
                           QByteArray::number(minor(device.st_dev), 16).rightJustified(2, '0') +
                           ':' + QByteArray::number(qulonglong(device.st_ino));
    for (const QByteArray& line : locks.readAll().split('\n')) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:05:89 0 EOF"; blocked waiters carry "->".
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields.at(1) != "FLOCK")
            continue;
        if (fields.at(5) != key)
            continue;
        bool number = false;
        const long pid = fields.at(4).toLong(&number);
        if (number && pid > 0)
            addOnce(found, pid, paths);
    }
}

} // namespace

QString processName(long pid, const SystemPaths& paths) {
    QFile comm(paths.proc + QStringLiteral("/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll().trimmed());
}

QList<ProcessRef> portHolders(const QString& devicePath, const SystemPaths& paths) {
    QList<ProcessRef> found;
    const QString device = QFileInfo(devicePath).canonicalFilePath();
    struct stat st {};
    if (device.isEmpty() || ::stat(QFile::encodeName(device).constData(), &st) != 0)
        return found;
    flockHolders(st, paths, found);
    if (!found.isEmpty())
        return found; // the costly part is for holders that do not flock
    for (const long pid : processIds(paths)) {
        if (holdsDevice(pid, device, st, paths.proc).value_or(false))
            addOnce(found, pid, paths);
    }
    return found;
}

std::optional<bool> holdsDevice(long pid, const QString& device, const struct stat& node,
                                const QString& proc) {
    DIR* fds = ::opendir(QFile::encodeName(proc + QStringLiteral("/%1/fd").arg(pid)));
    if (!fds)
        return std::nullopt;
    const QByteArray name = QFile::encodeName(device);
    bool found = false;
    while (const dirent* entry = ::readdir(fds)) {
        if (entry->d_name[0] == '.')
            continue;
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(::dirfd(fds), entry->d_name, target, sizeof target);
        if (length <= 0)
            continue;
        const QByteArray text(target, length);
        // The same node under another name, looked at only in /dev: a
        // target elsewhere can be a network mount that never answers.
        struct stat other {};
        found = text == name || (text.startsWith("/dev/") && S_ISCHR(node.st_mode) &&
                                 ::fstatat(::dirfd(fds), entry->d_name, &other, 0) == 0 &&
                                 S_ISCHR(other.st_mode) && other.st_rdev == node.st_rdev);
        if (found)
            break;
    }
    ::closedir(fds);
    return found;
}

QList<ProcessRef> deviceGrabbers(const SystemPaths& paths) {
    QList<ProcessRef> found;
    for (const long pid : processIds(paths)) {
        const QString name = processName(pid, paths);
        if (name == QLatin1String("ModemManager") || name == QLatin1String("brltty"))
            found.append({pid, name});
    }
    return found;
}
