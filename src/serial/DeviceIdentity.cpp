#include "serial/DeviceIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString attribute(const QString& dir, const char* name) {
    QFile file(dir + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.read(256).trimmed());
}

} // namespace

DeviceIdentity deviceIdentity(const QString& devicePath, const SystemPaths& paths) {
    DeviceIdentity identity;
    const QString device = QFileInfo(devicePath).canonicalFilePath();
    if (device.isEmpty())
        return identity;
    // ttyUSB: device -> …/1-1/1-1:1.0/ttyUSB0; ttyACM: device -> …/1-1/1-1:1.0.
    QString dir = QFileInfo(paths.sysTty + QLatin1Char('/') + QFileInfo(device).fileName() +
                            QStringLiteral("/device"))
                      .canonicalFilePath();
    if (dir.isEmpty())
        return identity;
    identity.port = attribute(dir, "port_number");
    for (int up = 0; up < 4 && !dir.isEmpty() && dir != QLatin1String("/"); ++up) {
        if (identity.interface.isEmpty())
            identity.interface = attribute(dir, "bInterfaceNumber");
        const QString vendor = attribute(dir, "idVendor");
        if (!vendor.isEmpty()) {
            identity.vendor = vendor;
            identity.product = attribute(dir, "idProduct");
            identity.serial = attribute(dir, "serial");
            identity.location = QFileInfo(dir).fileName();
            return identity;
        }
        dir = QFileInfo(dir).path();
    }
    return DeviceIdentity();
}

bool sameDevice(const DeviceIdentity& was, const DeviceIdentity& now) {
    if (!was.isValid() || !now.isValid())
        return false;
    if (was.vendor != now.vendor || was.product != now.product || was.interface != now.interface ||
        was.port != now.port)
        return false;
    if (was.serial.isEmpty() != now.serial.isEmpty())
        return false;
    return was.serial.isEmpty() ? was.location == now.location : was.serial == now.serial;
}
