#pragma once

#include <QString>
#include <QStringList>

// The places the serial code looks at on the system, as one value, so that
// resolving, locking, recognising and waiting for a device can run against
// a tree a test made.
struct SystemPaths {
    QString dev = QStringLiteral("/dev");
    QString sysTty = QStringLiteral("/sys/class/tty");
    QString proc = QStringLiteral("/proc");
    // UUCP lock folders; /var/lock is usually a link to /run/lock.
    QStringList lockDirs{QStringLiteral("/run/lock"), QStringLiteral("/var/lock")};
    // The per-user links com1, com2 … (portLinkDir()).
    QString ports;

    // The running system, with this user's links.
    static SystemPaths live();
};
