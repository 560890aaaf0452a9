#pragma once

#include "serial/SystemPaths.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/stat.h>

// The pid a UUCP lock file names: the HDB form ("      1234\n"), a bare
// number, or Qt's lock file form (pid on the first line, then more lines).
// 0 when the first line is not a positive decimal pid.
long lockFilePid(const QByteArray& content);

// The lock file name for a device: LCK..ttyUSB0, LCK..pts_3.
QString lockFileName(const QString& canonicalDevice);

// The UUCP lock file that minicom and programs built on Qt Serial Port take
// on a serial device (/run/lock/LCK..ttyUSB0), honoured both ways: a lock
// naming a live process refuses the device (this process too, for another
// object), a dead one's is taken over (a pid reused since counts as dead),
// and ours is made where the folder lets us and only that file removed on
// release.
class PortLock {
public:
    enum class Outcome {
        Taken,      // ours now (or no folder lets us write one)
        HeldByLive, // `pid` is running
        NotAPid,    // the file does not name a pid: `content`
        Unreadable, // `error` reading the file
        StaleKept,  // the dead owner's file cannot be removed: `error`
    };
    struct Result {
        Outcome outcome = Outcome::Taken;
        QString lockPath; // the file in question
        long pid = 0;
        QByteArray content;
        int error = 0;
        bool tookOver = false; // a stale lock was removed
    };

    // Locks in paths.lockDirs; where a folder is missing nothing is made there.
    explicit PortLock(const SystemPaths& paths);
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // A device that does not resolve to an existing file is not locked.
    Result acquire(const QString& devicePath);
    // Removes our lock file, if it still names us.
    void release();
    // Our lock file; empty while none is held.
    const QString& path() const { return m_path; }

private:
    QStringList m_dirs;
    QString m_proc;
    QString m_path;
    struct stat m_written {}; // of the file we made
};
