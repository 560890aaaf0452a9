#pragma once

#include "serial/SystemPaths.h"

#include <QString>

// Which physical USB adapter (and which of its ports) a tty belongs to, read
// from sysfs, so a replugged adapter is known again under another ttyUSBn.
struct DeviceIdentity {
    QString vendor, product; // idVendor, idProduct: "0403", "6001"
    QString serial;          // empty when the adapter has none
    QString location;        // the USB port it sits in ("1-1.2")
    QString interface;       // bInterfaceNumber
    QString port;            // port_number, for several ports on one interface

    // Only a USB device can be recognised again.
    bool isValid() const { return !vendor.isEmpty() && !product.isEmpty(); }
    QString usbId() const { return isValid() ? vendor + QLatin1Char(':') + product : QString(); }
};

// The identity of the tty behind `devicePath` (links followed); invalid
// when it is not a USB device or sysfs does not say.
DeviceIdentity deviceIdentity(const QString& devicePath, const SystemPaths& paths);

// The same adapter and port: equal serial numbers where both have one, the
// same USB port where neither has.
bool sameDevice(const DeviceIdentity& was, const DeviceIdentity& now);
