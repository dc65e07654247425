#pragma once

#include <QString>

namespace quobin {

// What a USB socket of the bench holds now.
struct SocketContent {
    QString device;     // the serial device to open (ROOT/dev/ttyUSB0); empty when none
    QString kernelName; // the kernel's name of it (ttyUSB0), or of what is there instead
    QString usbSerial;  // the adapter's USB serial number, as sysfs tells it; empty when none
    // Why what is in the socket is no serial adapter (a USB device of
    // another kind); empty when the socket holds one, or nothing.
    QString notSerial;

    bool empty() const { return device.isEmpty() && notSerial.isEmpty(); }
};

// The sockets that serial adapters are plugged into, as Linux names them: a
// link in ROOT/dev/serial/by-path (kept by udev) names the path through the
// hubs, e.g. pci-0000:00:14.0-usb-0:1.4:1.0-port0, and leads to the device
// that is in that socket now, whichever adapter it is. Where no link is there
// (no udev, a device that is not a serial adapter), the socket is looked for
// in ROOT/sys. Everything is read under root: "/" on a running system, a
// folder laid out like one in tests. Nothing is cached: each question reads
// the tree as it is now, so a swapped adapter is found at once.
class UsbSocketTree {
public:
    explicit UsbSocketTree(QString root = QStringLiteral("/"));

    // The tree that a socket name lies in: the root above its
    // dev/serial/by-path folder; the system's own for any other path.
    static UsbSocketTree of(const QString &path);
    // Whether path is a socket's name: a file name in a dev/serial/by-path
    // folder, whether or not anything is in the socket now.
    static bool namesSocket(const QString &path);
    // The socket that path stands for: path itself when it names one, or the
    // socket that a link at path (a comN link) leads to; empty when neither.
    static QString socketBehind(const QString &path);

    // A socket's name short enough for a tile read from afar: "socket 1.4"
    // for pci-0000:00:14.0-usb-0:1.4:1.0-port0 (port 4 of the hub on port
    // 1), with the adapter's own port when it has several ("socket 1.4 port
    // 2"); the file name when it is no USB socket's name.
    static QString shortName(const QString &socket);

    QString root() const { return m_root; }
    QString socketFolder() const;

    // The socket whose link leads to device now (a link to it will do);
    // empty when no socket link does.
    QString socketOf(const QString &device) const;
    // What the socket (a path in socketFolder()) holds now.
    SocketContent contentOf(const QString &socket) const;
    // The USB serial number of the adapter behind a tty device of the
    // kernel (ttyUSB0), as sysfs tells it; empty when none.
    QString usbSerialOf(const QString &kernelName) const;

private:
    QString sysPath(const QString &relative) const;
    SocketContent fromSysfs(const QString &socketName) const;

    QString m_root;
};

} // namespace quobin
