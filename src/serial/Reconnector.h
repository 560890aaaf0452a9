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
    // Later: the try goes on (a network connection) and ends in tried().
    enum class Reopened { No, Yes, Later };
    using Reopen = std::function<Reopened(const ResolvedPort&)>;
    Reconnector(SystemPaths paths, Reopen reopen, QObject* parent = nullptr);

    // False when the device could not be recognised again, or was lost
    // again soon after each of the last reconnects (gaveUp()).
    bool start(const OpenedDevice& lost);
    // The user acted: the wait ends and the reconnects so far are forgotten.
    void stop();
    bool gaveUp() const { return m_gaveUp; }
    // Milliseconds on a steady clock; tests bring their own.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock) { m_clock = std::move(clock); }
    bool waiting() const { return m_waiting; }

    // Where the lost device is now; empty path while it is away.
    ResolvedPort returned() const;
    // Looks for the device and reopens it if it is back; run when the
    // folders change and on a timer.
    void look();
    // How a try that went on ended.
    void tried(bool reopened);
    // When the next look is due on its own, in ms; -1 for on events only.
    int nextLookIn() const;

private:
    void finish();
    QStringList watchedDirs();
    bool concerns(const QStringList& paths) const;

    SystemPaths m_paths;
    Reopen m_reopen;
    OpenedDevice m_lost;
    bool m_waiting = false;
    bool m_trying = false;
    DeviceWatcher* m_watcher;
    QTimer* m_settle;
    int m_failures = 0;
    QStringList m_hops;     // what the lost device's name leads through
    bool m_polling = false; // no inotify: the timer looks instead
    Clock m_clock;
    qint64 m_reconnectedAt = -1;
    int m_quickLosses = 0;
    bool m_gaveUp = false;
    int m_remoteDelay = 0;
};
