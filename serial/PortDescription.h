#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

namespace quobin {

// A serial device the system lists, with what its USB adapter says of itself.
struct DeviceDescription {
    QString device;        // where it lives, e.g. /dev/ttyUSB0
    QString manufacturer;
    QString product;
    QString serialNumber;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;

    // "maker product, serial S, VVVV:PPPP", leaving out what the adapter does
    // not tell; empty when it tells nothing.
    QString text() const;
};

// The serial devices present, as QSerialPortInfo lists them.
QList<DeviceDescription> presentSerialDevices();

// The description of the device at devicePath (a link to it will do), found
// among devices by the device it finally names. Empty when it is not there.
std::optional<DeviceDescription> describeDevice(const QString &devicePath, const QList<DeviceDescription> &devices);
std::optional<DeviceDescription> describeDevice(const QString &devicePath);

// The stable name of a device: the link in byIdFolder (normally
// /dev/serial/by-id) that leads to it, else the device path itself.
QString stableDeviceName(const QString &devicePath, const QString &byIdFolder = QStringLiteral("/dev/serial/by-id"));

// A short account of what "Com n" reaches, for a tooltip: the device and why
// (the link or the default), then the adapter's description, or that the
// device is missing.
QString describePort(qint16 number, const QStringList &linkFolders);

} // namespace quobin
