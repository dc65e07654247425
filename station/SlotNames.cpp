#include "SlotNames.h"

#include "NetworkPortAddress.h"
#include "PortDescription.h"
#include "PortNames.h"
#include "SerialLineCheck.h"
#include "SerialError.h"
#include "UsbLocation.h"
#include "UsbSocketTree.h"

#include <QFileInfo>

namespace quobin::station {

namespace {

// What is not a serial line (/dev/tty, /dev/null, a regular file) would take
// the controller's commands board after board: refused as upload refuses it.
// Only a local device path is checked; a network port's name (one with
// "://" in it) is no file to look at.
SlotAddress serialLine(SlotAddress address)
{
    if (address.label.contains(QLatin1String("://")) || address.path.contains(QLatin1String("://")))
        return address;
    const QString problem = notASerialLine(address.path);
    if (problem.isEmpty())
        return address;
    if (address.label == address.path)
        throw SlotNameError(problem);
    throw SlotNameError(address.label + QStringLiteral(": ") + problem);
}

// A socket that holds something other than a serial adapter would wait
// for a board that never comes: refused at once, naming the socket.
void refuseForeignSocket(const QString &label, const QString &path)
{
    const QString socket = UsbSocketTree::socketBehind(path);
    if (socket.isEmpty())
        return;
    const SocketContent content = UsbSocketTree::of(socket).contentOf(socket);
    if (!content.notSerial.isEmpty())
        throw SlotNameError(label == socket ? content.notSerial : label + QStringLiteral(": ") + content.notSerial);
}

} // namespace

QString deviceReachedBy(const QString &path)
{
    if (NetworkPortAddress::names(path))
        return path;
    if (const QString held = linkText(path); NetworkPortAddress::names(held))
        return held;
    // A socket's link is udev's; without udev the socket is found in sysfs.
    if (const QString socket = UsbSocketTree::socketBehind(path); !socket.isEmpty()) {
        const SocketContent content = UsbSocketTree::of(socket).contentOf(socket);
        return content.device.isEmpty() ? QString() : presentSerialDevice(content.device);
    }
    // A socket that the system's list of ports locates (Windows).
    if (portListTellsSockets() && UsbLocation::namesSocket(path))
        return deviceInListedSocket(path, presentSerialDevices());
    return presentSerialDevice(path);
}

SlotAddress slotNamed(const QString &text, const QStringList &linkFolders)
{
    if (const int number = comNumberNamed(text); number >= 0) {
        if (number < 1 || number > 32767)
            throw SlotNameError(QStringLiteral("there is no port Com %1").arg(number));
        const PortMapping mapping = portMappingFor(qint16(number), linkFolders);
        // A symbolic link is followed at every open; a serial server's
        // address from the file of links (Windows) is taken as it is now.
        const bool followLink = !mapping.link.isEmpty() && !mapping.inLinkFile;
        if (followLink)
            refuseForeignSocket(QStringLiteral("Com %1").arg(number), mapping.link);
        return serialLine({QStringLiteral("Com %1").arg(number), followLink ? mapping.link : mapping.device});
    }
    // A serial server's line is named by its address, in one spelling.
    if (NetworkPortAddress::names(text)) {
        try {
            const QString address = NetworkPortAddress::parse(text).name();
            return {address, address};
        } catch (const SerialError &error) {
            throw SlotNameError(QString::fromStdString(error.what()));
        }
    }
    // A socket: whatever adapter is in it now, found again at every open.
    if (UsbSocketTree::namesSocket(text)) {
        const QString socket = QFileInfo(text).absoluteFilePath();
        refuseForeignSocket(socket, socket);
        const QString device = deviceReachedBy(socket);
        if (!device.isEmpty()) {
            if (const QString problem = notASerialLine(device); !problem.isEmpty())
                throw SlotNameError(socket + QStringLiteral(": ") + problem);
        }
        return {socket, socket};
    }
    // A socket as Windows locates it (PCIROOT(0)#...#USB(4)): the COM port
    // of whatever adapter is in it, found again at every open.
    if (portListTellsSockets() && UsbLocation::namesSocket(text)) {
        const QString socket = UsbLocation::fromLocationPaths({text});
        return {socket, socket};
    }
    // A device that is not there yet is waited for; but a name that is no
    // path at all is a mistake. The port layer finds a device that is no
    // file, such as \\.\COM3.
    const bool isFile = QFileInfo::exists(text);
    if (!isFile && serialDeviceExists(text))
        return serialLine({text, text});
    if (!text.contains(QLatin1Char('/')) && !isFile)
        throw SlotNameError(QStringLiteral("'%1' is neither a Com name (\"Com 3\", \"com3\", \"3\") nor a "
                                           "device path")
                                .arg(text));
    return serialLine({text, QFileInfo(text).absoluteFilePath()});
}

} // namespace quobin::station
