#include "PortDescription.h"

#include <QFileInfo>
#include <QSerialPortInfo>

namespace quobin {

// Linux's sockets are the links in /dev/serial/by-path, not the list's.
bool portListTellsSockets()
{
    return false;
}

QList<DeviceDescription> presentSerialDevices()
{
    QList<DeviceDescription> devices;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        DeviceDescription d;
        d.device = info.systemLocation();
        d.manufacturer = info.manufacturer();
        d.product = info.description();
        d.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier())
            d.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            d.productId = info.productIdentifier();
        devices.append(d);
    }
    return devices;
}

bool serialDeviceExists(const QString &device)
{
    return QFileInfo::exists(device);
}

QString presentSerialDevice(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

} // namespace quobin
