#pragma once

#include <QByteArray>
#include <QString>

// The guest's end of the bed's control channel: asks bed.py on the host to
// play the devices. `line` is "s1" (ttyS1) or "usb" (the FTDI adapter).
class Bed {
public:
    Bed();
    ~Bed();
    Bed(const Bed&) = delete;
    Bed& operator=(const Bed&) = delete;

    bool isValid() const { return m_fd >= 0; }
    // Sends one request and returns the host's answer, "ok ..." or "err ...".
    QString ask(const QString& request);
    bool ok(const QString& request) { return ask(request).startsWith(QLatin1String("ok")); }
    // What the guest sent on the line since the last call.
    QByteArray received(const QString& line);

private:
    int m_fd = -1;
    QByteArray m_buffer;
};

// The node the FTDI adapter has now (/dev/ttyUSB0, or ttyUSB1 after a replug
// while the old one was held), waiting up to `timeoutMs` for it; empty if none.
QString usbNode(int timeoutMs = 10000);
