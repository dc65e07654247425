#pragma once

#include "PortDescription.h"
#include "PortNames.h"
#include "StorageFolders.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace quobin::cli {

// What "Com n" means on this machine, for this user.
struct ComPortState {
    int number = 0;
    PortMapping mapping;
    bool exists = false;
    bool mayOpen = false;          // this user may open it for reading and writing
    QString accessHint;            // what to do when the user may not and it would help; else empty
    QString notSerial;             // why what is there is no serial line; empty when it is one
    QString linkTarget;            // where a link that leads nowhere points
    bool network = false;          // a serial server's line (rfc2217://), reached when it opens
    std::optional<DeviceDescription> usb;
    QString adapterName;           // the adapter's /dev/serial/by-id name; empty when none
    QString socket;                // the USB socket it is plugged into (/dev/serial/by-path); empty when unknown
};

// A serial device present that no "Com n" reaches yet.
struct UnreachedDevice {
    DeviceDescription usb;
    QString stableName;            // its /dev/serial/by-id name, else its device path
    QString socket;                // the USB socket it is plugged into (/dev/serial/by-path); empty when unknown
    int suggestedNumber = 0;       // a Com number free to link it to; 0 when none is
};

struct PortsReport {
    QString linkFolder;            // where new comN links are made
    QStringList linkFolders;       // where comN links are looked for
    QList<ComPortState> ports;     // Com 1 to Com 8
    QList<UnreachedDevice> unreached;
};

// Where the serial devices present are learned from.
struct SerialDeviceSource {
    QList<DeviceDescription> devices;
    QString byIdFolder;
    QString socketRoot = QStringLiteral("/"); // where the sockets' tree (dev/serial/by-path, sys) is read
};
SerialDeviceSource systemSerialDevices();
// Where this system names adapters and sockets, without listing the devices.
SerialDeviceSource systemSerialDevicesNamesOnly();

ComPortState comPortState(int number, const QStringList &linkFolders, const QList<DeviceDescription> &devices,
                          const SerialDeviceSource &names = systemSerialDevicesNamesOnly());
PortsReport gatherPorts(const StorageFolders &folders, const SerialDeviceSource &source);

// The command that links device as "Com n", quoted for a shell.
QString linkCommandFor(int number, const QString &device);

// The report as the operator reads it, and as one JSON document for scripts.
QString comPortText(const ComPortState &port);
QString portsText(const PortsReport &report);
QJsonObject portsJson(const PortsReport &report);

} // namespace quobin::cli
