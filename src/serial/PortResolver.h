#pragma once

#include "serial/SystemPaths.h"

#include <QString>
#include <QStringList>

// Where "Com N" leads.
struct ResolvedPort {
    QString path;        // what to open; empty when nothing matches
    QString display;     // the path as the user should see it in a message
    int present = 0;     // devices found when no link pins the port
    bool pinned = false; // through the link comN
};

// The per-user folder of links com1, com2 … that pin a port to a device:
// $XDG_CONFIG_HOME/velmora/ports (default ~/.config/velmora/ports).
QString portLinkDir();

// Serial devices present, in a stable order: ttyUSB* and ttyACM* by number,
// then ttyS* whose UART type is not 0.
QStringList presentSerialDevices(const SystemPaths& paths);

// The link comN when it exists, else the N-th present device.
ResolvedPort resolvePort(int number, const QString& linkDir, const QStringList& present);
