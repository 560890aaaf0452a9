#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Debian's ser2net serving one device on 127.0.0.1 at a free port, from a
// configuration file of its own, with chardelay off. `telnet` picks RFC 2217;
// otherwise raw TCP. Killed with the object.
class Ser2net {
public:
    Ser2net(const QString& device, bool telnet);
    ~Ser2net();
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    static bool installed();
    // Starts it (again, on the same port); true once it takes connections.
    bool start();
    // SIGKILL: the connections end as a crash ends them.
    void kill();
    quint16 port() const { return m_port; }
    QString url() const;
    QString log() const { return m_log; }

private:
    QTemporaryDir m_dir;
    QString m_device;
    bool m_telnet;
    quint16 m_port = 0;
    QProcess m_process;
    QString m_log;
};
