#pragma once

#include "serial/DeviceIdentity.h"
#include "serial/PortResolver.h"

#include <QObject>
#include <functional>

class DeviceWatcher;
class QTimer;

// The device a port had open, as it must be found again after a loss.
struct OpenedDevice {
    int number = 0;
    ResolvedPort port;
    QString linkTarget;      // what the link comN said at open
    QString linkStamp;       // and which link it was
    DeviceIdentity identity; // the USB adapter, when it is one

    // Recorded right after the open, while sysfs still shows the device.
    static OpenedDevice of(int number, const ResolvedPort& port, const SystemPaths& paths);
};

// Waits for a lost device to come back and hands it to `reopen`: through the
// same link comN (a USB adapter must be the same one; anything else, a pty
// say, only once the link was made anew), or, for a port found by number,
// the same USB adapter under whatever ttyUSBn it now has. Sleeps on inotify
// in between. A remote port is asked for again after 0.5 s, then twice as
// long each time up to 10 s.
class Reconnector : public QObject {
    Q_OBJECT
public:
    // True when the port is open again.
    using Reopen = std::function<bool(const ResolvedPort&)>;
    Reconnector(SystemPaths paths, Reopen reopen, QObject* parent = nullptr);

    // False when the device could not be recognised again: nothing to wait for.
    bool start(const OpenedDevice& lost);
    void stop();
    bool waiting() const { return m_waiting; }

    // Where the lost device is now; empty path while it is away.
    ResolvedPort returned() const;
    // Looks for the device and reopens it if it is back; run when the
    // folders change and on a timer.
    void look();
    // When the next look is due on its own, in ms; -1 for on events only.
    int nextLookIn() const;

private:
    QStringList watchedDirs() const;

    SystemPaths m_paths;
    Reopen m_reopen;
    OpenedDevice m_lost;
    bool m_waiting = false;
    DeviceWatcher* m_watcher;
    QTimer* m_settle;
    int m_failures = 0;
    int m_remoteDelay = 0;
};
