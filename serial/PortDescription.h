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
    // The USB socket it is plugged into where the system's list of ports
    // tells it (Windows' location path, see UsbLocation); empty elsewhere,
    // where the sockets' tree tells it (UsbSocketTree).
    QString socket;

    // "maker product, serial S, VVVV:PPPP", leaving out what the adapter does
    // not tell; empty when it tells nothing.
    QString text() const;
};

// The serial devices present, as the system lists them: QSerialPortInfo, or
// on Windows the COM ports in the registry with their friendly names.
QList<DeviceDescription> presentSerialDevices();
// Whether the system's list of ports tells the USB socket of each port
// (Windows' location paths); where it does not, the sockets' tree does
// (Linux's /dev/serial/by-path, UsbSocketTree).
bool portListTellsSockets();
// The device in a socket that the list of ports tells (DeviceDescription::
// socket) now, whichever adapter it is; empty when none is in it.
QString deviceInListedSocket(const QString &socket, const QList<DeviceDescription> &devices);
// Whether the device a port maps to is there: a file for a Linux device, a
// COM port that Windows lists.
bool serialDeviceExists(const QString &device);
// The device that path reaches now, for opening: on Linux the device file
// behind any links, on Windows the COM port itself. Empty when it is missing
// (an adapter pulled out).
QString presentSerialDevice(const QString &path);

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
