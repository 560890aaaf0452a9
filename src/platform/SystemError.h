#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The operating system's reason for errno `error`, in Japanese, for the
// descriptions the program shows ("… を開けません: <reason>").
QString describeErrno(int error);

// A process as the messages name it.
struct ProcessRef {
    long pid = 0;
    QString name; // empty when it could not be read
};
// "minicom (pid 1234)"
QString describeProcess(const ProcessRef& process);

// Who keeps a device busy, for after "… は他のプログラムが使用中です。":
// the holders seen, else the running programs known to grab serial devices,
// with how to keep ModemManager away. `usbId` is "vendor:product" or empty.
QString describeHolders(const QList<ProcessRef>& holders, const QList<ProcessRef>& grabbers,
                        const QString& usbId);

// Refusals by a UUCP lock file on `device`.
QString describeLockHeld(const QString& device, const QString& lockPath, const ProcessRef& owner);
QString describeLockNotAPid(const QString& device, const QString& lockPath,
                            const QByteArray& content);
QString describeLockUnreadable(const QString& device, const QString& lockPath, int error);
QString describeStaleLockKept(const QString& device, const QString& lockPath, long pid, int error);
