#pragma once

#include "platform/SystemError.h"
#include "serial/SystemPaths.h"

#include <QList>
#include <QString>

// Who holds a serial device, as far as an ordinary user can see: the
// flock on it (/proc/locks names every holder), else the descriptors of the
// processes whose /proc/<pid>/fd this user may read. Each process once.
QList<ProcessRef> portHolders(const QString& devicePath, const SystemPaths& paths);

// Running programs known to open serial devices as they appear
// (ModemManager, brltty): named when the holder itself cannot be seen.
QList<ProcessRef> deviceGrabbers(const SystemPaths& paths);

// The program name of a process (its comm), empty when it is gone.
QString processName(long pid, const SystemPaths& paths);
