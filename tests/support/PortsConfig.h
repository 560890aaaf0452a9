#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A settings folder of the test's own, set as $XDG_CONFIG_HOME, with the
// folder whose links name Com N.
class PortsConfig {
public:
    // From initTestCase: false when the folder could not be made.
    bool setUp() {
        if (!m_dir.isValid() || !QDir().mkpath(m_dir.path() + QStringLiteral("/velmora/ports")))
            return false;
        qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
        return true;
    }

    static QString link(int port) {
        return qEnvironmentVariable("XDG_CONFIG_HOME") +
               QStringLiteral("/velmora/ports/com%1").arg(port);
    }
    // Points Com `port` at `target` (a device path or a URL), replacing the old link.
    static bool pin(int port, const QString& target) {
        QFile::remove(link(port));
        return QFile::link(target, link(port));
    }

private:
    QTemporaryDir m_dir;
};
