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
    bool remote = false; // the link's target is a network URL
};

// A port on another machine, named by a link target such as
// rfc2217://lab-pi:7000 (telnet with the COM-PORT-OPTION) or tcp://lab-pi:7001
// (raw bytes). Hosts are names, IPv4 or bracketed IPv6 addresses.
struct RemoteTarget {
    enum class Kind { None, Rfc2217, RawTcp };
    Kind kind = Kind::None;
    QString host; // without brackets
    quint16 port = 0;

    bool isValid() const { return kind != Kind::None; }
    // host:port, an IPv6 host in brackets
    QString hostPort() const;
    static RemoteTarget parse(const QString& url);
};

// The target of the link at `path` as written, or empty when it is no link.
QString linkText(const QString& path);

// The per-user folder of links com1, com2 … that pin a port to a device:
// $XDG_CONFIG_HOME/velmora/ports (default ~/.config/velmora/ports).
QString portLinkDir();

// Serial devices present, in a stable order: ttyUSB* and ttyACM* by number,
// then ttyS* whose UART type is not 0.
QStringList presentSerialDevices(const SystemPaths& paths);

// The link comN when it exists, else the N-th present device.
ResolvedPort resolvePort(int number, const QString& linkDir, const QStringList& present);
