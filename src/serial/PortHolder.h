#pragma once

#include "platform/SystemError.h"
#include "serial/SystemPaths.h"

#include <QList>
#include <QString>
#include <optional>
#include <sys/stat.h>

// Who holds a serial device, as far as an ordinary user can see: the
// flock on it (/proc/locks names every holder), else the descriptors of the
// processes whose /proc/<pid>/fd this user may read. Each process once.
QList<ProcessRef> portHolders(const QString& devicePath, const SystemPaths& paths);

// Whether process `pid` has a descriptor on `device` (a canonical path,
// `node` its stat): the link's text names it, or names a node under /dev
// with its device number. Nothing else is followed, so a hung network mount
// cannot block the look. Unset when the descriptors cannot be read.
std::optional<bool> holdsDevice(long pid, const QString& device, const struct stat& node,
                                const QString& proc);

// Running programs known to open serial devices as they appear
// (ModemManager, brltty): named when the holder itself cannot be seen.
QList<ProcessRef> deviceGrabbers(const SystemPaths& paths);

// The program name of a process (its comm), empty when it is gone.
QString processName(long pid, const SystemPaths& paths);
