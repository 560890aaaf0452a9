#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>

class QSocketNotifier;

// Tells when entries appear or change in a few folders (inotify), so a
// program waiting for a device sleeps until the system makes one.
class DeviceWatcher : public QObject {
    Q_OBJECT
public:
    explicit DeviceWatcher(QObject* parent = nullptr);
    ~DeviceWatcher() override;

    // Watches exactly these folders from now on; missing ones are skipped.
    // False when inotify is not to be had (no descriptor left).
    bool watch(const QStringList& dirs);
    void stop();

signals:
    // These entries (full paths) were created, moved in or changed their
    // permissions.
    void changed(const QStringList& paths);

private:
    void onReadable();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QHash<QString, int> m_watches;
};
