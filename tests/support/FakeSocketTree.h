#pragma once

#include <QDir>
#include <QFile>
#include <QHash>
#include <QString>

namespace quobin::testing {

// A folder laid out as Linux lays out USB serial adapters: for each adapter
// in a socket of a hub on the host controller 0000:00:14.0, the USB device
// in sys/devices with its ids and serial number, its interface and tty
// folders, the sys/bus/usb/devices and sys/class/tty links to them,
// dev/ttyUSBn (here a link to the device that plays it, such as a
// simulator's pseudo-terminal) and udev's dev/serial/by-path link. Adapters
// are plugged in and pulled out as on a bench; the kernel name is the
// caller's, as the kernel numbers adapters in the order they appear.
class FakeSocketTree {
public:
    explicit FakeSocketTree(const QString &root) : m_root(root)
    {
        QDir().mkpath(path(QStringLiteral("dev/serial/by-path")));
        QDir().mkpath(path(QStringLiteral("sys/bus/usb/devices")));
        QDir().mkpath(path(QStringLiteral("sys/class/tty")));
    }

    QString root() const { return m_root; }
    // The socket's by-path name, e.g. ROOT/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.4:1.0-port0
    // for the ports "1.4" (port 4 of the hub on port 1).
    QString socket(const QString &ports) const
    {
        return path(QStringLiteral("dev/serial/by-path/pci-0000:00:14.0-usb-0:%1:1.0-port0").arg(ports));
    }

    // A serial adapter into the socket at ports, seen by the kernel as
    // kernelName (ttyUSB0), with its USB serial number; it opens device.
    void plug(const QString &ports, const QString &kernelName, const QString &usbSerial, const QString &device,
              bool udevLink = true)
    {
        const QString usb = usbDevice(ports, QStringLiteral("FT232R USB UART"), QStringLiteral("0403"),
                                      QStringLiteral("6001"));
        write(usb + QStringLiteral("/serial"), usbSerial);
        const QString portFolder = usb + QStringLiteral("/1-%1:1.0/%2").arg(ports, kernelName);
        const QString ttyFolder = portFolder + QStringLiteral("/tty/") + kernelName;
        QDir().mkpath(ttyFolder);
        QFile::link(QStringLiteral("../.."), ttyFolder + QStringLiteral("/device"));
        QFile::link(ttyFolder, path(QStringLiteral("sys/class/tty/") + kernelName));
        QFile::link(device, path(QStringLiteral("dev/") + kernelName));
        if (udevLink)
            QFile::link(QStringLiteral("../../") + kernelName, socket(ports));
        m_kernelNames.insert(ports, kernelName);
    }

    // A USB device that is no serial adapter (a memory stick) into the socket.
    void plugOther(const QString &ports, const QString &product, const QString &vendor, const QString &productId)
    {
        const QString usb = usbDevice(ports, product, vendor, productId);
        QDir().mkpath(usb + QStringLiteral("/1-%1:1.0/host0").arg(ports));
        m_kernelNames.insert(ports, QString());
    }

    // Whatever is in the socket, pulled out: the kernel and udev forget it.
    void pull(const QString &ports)
    {
        const QString kernelName = m_kernelNames.take(ports);
        QFile::remove(socket(ports));
        if (!kernelName.isEmpty()) {
            QFile::remove(path(QStringLiteral("dev/") + kernelName));
            QFile::remove(path(QStringLiteral("sys/class/tty/") + kernelName));
        }
        QFile::remove(path(QStringLiteral("sys/bus/usb/devices/1-") + ports));
        QDir(path(QStringLiteral("sys/devices/pci0000:00/0000:00:14.0/usb1/1-") + ports)).removeRecursively();
    }

private:
    QString path(const QString &relative) const { return m_root + QLatin1Char('/') + relative; }

    static void write(const QString &file, const QString &text)
    {
        QFile out(file);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(text.toUtf8() + '\n');
    }

    QString usbDevice(const QString &ports, const QString &product, const QString &vendor, const QString &productId)
    {
        const QString usb = path(QStringLiteral("sys/devices/pci0000:00/0000:00:14.0/usb1/1-") + ports);
        QDir().mkpath(usb);
        write(usb + QStringLiteral("/product"), product);
        write(usb + QStringLiteral("/idVendor"), vendor);
        write(usb + QStringLiteral("/idProduct"), productId);
        QFile::link(usb, path(QStringLiteral("sys/bus/usb/devices/1-") + ports));
        return usb;
    }

    QString m_root;
    QHash<QString, QString> m_kernelNames;
};

} // namespace quobin::testing
