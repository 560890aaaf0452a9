#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The operating system's reason for errno `error`, in Japanese, for the
// descriptions the program shows ("… を開けません: <reason>").
QString describeErrno(int error);

// What a failure means to the user, whichever call it came from; carried in
// Failure so that callers can tell a missing device from a busy one.
enum class ErrorKind {
    Other,
    Refused,      // the value is not one the component takes
    Missing,      // no such device (ENOENT, ENODEV, ENXIO)
    Busy,         // another program holds the device (EBUSY, EWOULDBLOCK)
    NotPermitted, // EACCES, EPERM: the dialout group
    NotSerial,    // ENOTTY: not a serial device
    Lost,         // the device went away while open
};

// The kind of an errno from opening a device.
ErrorKind errorKindOf(int error);
// The kind of the error that ended reading or writing an open device:
// 0 is a hang-up; EIO and the missing-device errors mean it went away.
ErrorKind lossKindOf(int error);
// The sentence for `device` failing this way, e.g. "デバイス /dev/ttyUSB0 は
// 他のプログラムが使用中です。"
QString describeDeviceError(ErrorKind kind, const QString& device);

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
