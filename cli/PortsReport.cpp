#include "NetworkPortAddress.h"
#include "PortsReport.h"

#include "DeviceAccess.h"
#include "SerialLineCheck.h"
#include "UsbSocketTree.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>

#include <sys/stat.h>
#include <unistd.h>

namespace quobin::cli {

namespace {

QString finalDevice(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical;
}

QString comName(int number)
{
    return QStringLiteral("Com %1").arg(number);
}

// Joining the device's group helps only when that group may read and write it.
QString accessHintFor(const QString &device)
{
    const QString group = groupThatMayOpen(device);
    if (group.isEmpty())
        return {};
    return QStringLiteral("join the %1 group (sudo usermod -aG %1 \"$USER\") and log in again").arg(group);
}

// The adapter's own description; null for a device that tells nothing of
// itself (a built-in port, a pseudo-terminal).
QJsonValue usbJson(const std::optional<DeviceDescription> &usb)
{
    if (!usb || usb->text().isEmpty())
        return QJsonValue::Null;
    auto hex4 = [](const std::optional<quint16> &id) -> QJsonValue {
        if (!id)
            return QJsonValue::Null;
        return QString::number(*id, 16).rightJustified(4, QLatin1Char('0'));
    };
    auto textOrNull = [](const QString &text) -> QJsonValue {
        return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
    };
    return QJsonObject{{QStringLiteral("manufacturer"), textOrNull(usb->manufacturer)},
                       {QStringLiteral("product"), textOrNull(usb->product)},
                       {QStringLiteral("serialNumber"), textOrNull(usb->serialNumber)},
                       {QStringLiteral("vendorId"), hex4(usb->vendorId)},
                       {QStringLiteral("productId"), hex4(usb->productId)}};
}

QString shellQuoted(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:@%+=,-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

SerialDeviceSource systemSerialDevices()
{
    return {presentSerialDevices(), QStringLiteral("/dev/serial/by-id")};
}

SerialDeviceSource systemSerialDevicesNamesOnly()
{
    return {{}, QStringLiteral("/dev/serial/by-id")};
}

namespace {

// The adapter's by-id name, empty when it has none.
QString adapterNameOf(const QString &device, const QString &byIdFolder)
{
    const QString stable = stableDeviceName(device, byIdFolder);
    return stable == device ? QString() : stable;
}

// The socket: the one a link names, else the one the device is in now.
QString socketOf(const QString &link, const QString &device, const QString &socketRoot)
{
    if (!link.isEmpty()) {
        if (const QString socket = UsbSocketTree::socketBehind(link); !socket.isEmpty())
            return socket;
    }
    return UsbSocketTree(socketRoot).socketOf(device);
}

} // namespace

ComPortState comPortState(int number, const QStringList &linkFolders, const QList<DeviceDescription> &devices,
                          const SerialDeviceSource &names)
{
    ComPortState port;
    port.number = number;
    port.mapping = portMappingFor(qint16(number), linkFolders);
    if (NetworkPortAddress::names(port.mapping.device)) {
        // Nothing on this machine to look at: the server answers at the open.
        port.network = true;
        port.exists = true;
        port.mayOpen = true;
        return port;
    }
    port.exists = QFileInfo::exists(port.mapping.device);
    if (port.exists) {
        port.notSerial = notASerialLine(port.mapping.device);
        port.mayOpen = ::access(QFile::encodeName(port.mapping.device).constData(), R_OK | W_OK) == 0;
        if (!port.mayOpen)
            port.accessHint = accessHintFor(port.mapping.device);
        port.usb = describeDevice(port.mapping.device, devices);
        port.adapterName = adapterNameOf(port.mapping.device, names.byIdFolder);
        port.socket = socketOf(port.mapping.link, port.mapping.device, names.socketRoot);
        // A socket's tree tells the adapter's serial number where the
        // system's list of ports does not.
        if (!port.socket.isEmpty() && (!port.usb || port.usb->serialNumber.isEmpty())) {
            if (const QString serial = UsbSocketTree::of(port.socket).contentOf(port.socket).usbSerial; !serial.isEmpty()) {
                if (!port.usb)
                    port.usb = DeviceDescription{port.mapping.device, {}, {}, {}, {}, {}, {}};
                port.usb->serialNumber = serial;
            }
        }
    } else if (!port.mapping.link.isEmpty()) {
        port.linkTarget = QFileInfo(port.mapping.link).symLinkTarget();
    }
    return port;
}

PortsReport gatherPorts(const StorageFolders &folders, const SerialDeviceSource &source)
{
    PortsReport report;
    report.linkFolder = folders.writeFolder();
    report.linkFolders = folders.linkFolders();
    QSet<QString> reached;
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        report.ports.append(comPortState(n, report.linkFolders, source.devices, source));
        reached.insert(finalDevice(report.ports.last().mapping.device));
    }

    // Free for a new link: no link of its own, and no serial device behind
    // its default name. Failing that, a link whose device is gone.
    QSet<QString> present;
    for (const DeviceDescription &d : source.devices)
        present.insert(finalDevice(d.device));
    QList<int> free;
    for (const ComPortState &port : std::as_const(report.ports)) {
        if (port.mapping.link.isEmpty() && !present.contains(finalDevice(port.mapping.device)))
            free.append(port.number);
    }
    for (const ComPortState &port : std::as_const(report.ports)) {
        if (!port.mapping.link.isEmpty() && !port.exists)
            free.append(port.number);
    }

    for (const DeviceDescription &d : source.devices) {
        if (reached.contains(finalDevice(d.device)))
            continue;
        UnreachedDevice device;
        device.usb = d;
        device.stableName = stableDeviceName(d.device, source.byIdFolder);
        device.socket = UsbSocketTree(source.socketRoot).socketOf(d.device);
        if (!free.isEmpty())
            device.suggestedNumber = free.takeFirst();
        report.unreached.append(device);
    }
    return report;
}

QString linkCommandFor(int number, const QString &device)
{
    return QStringLiteral("quobin-cli link %1 %2").arg(number).arg(shellQuoted(device));
}

QString comPortText(const ComPortState &port)
{
    QString text = QStringLiteral("%1  %2  (%3)\n")
                       .arg(comName(port.number), port.mapping.device,
                            port.mapping.link.isEmpty() ? QStringLiteral("default")
                                                        : QStringLiteral("link ") + port.mapping.link);
    const QString indent(7, QLatin1Char(' '));
    if (!port.exists) {
        if (port.mapping.link.isEmpty())
            text += indent + QStringLiteral("missing\n");
        else
            text += indent + QStringLiteral("missing: the link leads to %1, which is not there\n")
                                 .arg(port.linkTarget.isEmpty() ? QStringLiteral("nothing") : port.linkTarget);
        return text;
    }
    if (port.network)
        return text + indent + QStringLiteral("a serial server on the network (RFC 2217); reached when the port opens\n");
    if (!port.notSerial.isEmpty())
        return text + indent + port.notSerial + QLatin1Char('\n');
    if (port.mayOpen)
        text += indent + QStringLiteral("present; this user may open it\n");
    else if (port.accessHint.isEmpty())
        text += indent + QStringLiteral("present; this user may not open it (%1)\n").arg(whyNotOpened(port.mapping.device, false, QString()));
    else
        text += indent + QStringLiteral("present; this user may not open it: ") + port.accessHint + QLatin1Char('\n');
    if (port.usb && !port.usb->text().isEmpty())
        text += indent + port.usb->text() + QLatin1Char('\n');
    if (!port.adapterName.isEmpty())
        text += indent + QStringLiteral("adapter ") + port.adapterName + QLatin1Char('\n');
    if (!port.socket.isEmpty())
        text += indent + QStringLiteral("socket ") + port.socket + QLatin1Char('\n');
    return text;
}

QString portsText(const PortsReport &report)
{
    QString text;
    for (const ComPortState &port : report.ports)
        text += comPortText(port);
    text += QStringLiteral("\nLinks are looked for in %1; new links are made in %2.\n")
                .arg(report.linkFolders.join(QStringLiteral(", then ")), report.linkFolder);
    if (report.unreached.isEmpty()) {
        text += QStringLiteral("No other serial device is present.\n");
        return text;
    }
    text += QStringLiteral("\nSerial devices that no Com n reaches yet:\n");
    for (const UnreachedDevice &device : report.unreached) {
        text += QStringLiteral("  %1\n").arg(device.stableName);
        QString about = device.usb.device;
        if (!device.usb.text().isEmpty())
            about += QStringLiteral("; ") + device.usb.text();
        text += QStringLiteral("    %1\n").arg(about);
        if (!device.socket.isEmpty())
            text += QStringLiteral("    socket %1\n").arg(device.socket);
        if (device.suggestedNumber > 0)
            text += QStringLiteral("    to use it as Com %1: %2\n")
                        .arg(device.suggestedNumber)
                        .arg(linkCommandFor(device.suggestedNumber, device.stableName));
        else
            text += QStringLiteral("    every Com n is taken; to replace one: quobin-cli link N %1\n")
                        .arg(shellQuoted(device.stableName));
        // A link to the socket stays with the socket when its adapter is swapped.
        if (!device.socket.isEmpty())
            text += QStringLiteral("    or, to name the socket whatever adapter is in it: quobin-cli link %1 %2\n")
                        .arg(device.suggestedNumber > 0 ? QString::number(device.suggestedNumber) : QStringLiteral("N"),
                             shellQuoted(device.socket));
    }
    return text;
}

QJsonObject portsJson(const PortsReport &report)
{
    QJsonArray ports;
    for (const ComPortState &port : report.ports) {
        ports.append(QJsonObject{
            {QStringLiteral("port"), comName(port.number)},
            {QStringLiteral("number"), port.number},
            {QStringLiteral("device"), port.mapping.device},
            {QStringLiteral("mappedBy"), port.mapping.link.isEmpty() ? QStringLiteral("default") : QStringLiteral("link")},
            {QStringLiteral("link"), port.mapping.link.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(port.mapping.link)},
            {QStringLiteral("linkTarget"), port.linkTarget.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(port.linkTarget)},
            {QStringLiteral("network"), port.network},
            {QStringLiteral("exists"), port.exists},
            {QStringLiteral("mayOpen"), port.mayOpen},
            {QStringLiteral("hint"), port.accessHint.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(port.accessHint)},
            {QStringLiteral("notSerial"), port.notSerial.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(port.notSerial)},
            {QStringLiteral("usb"), usbJson(port.usb)},
            {QStringLiteral("adapter"), port.adapterName.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(port.adapterName)},
            {QStringLiteral("socket"), port.socket.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(port.socket)},
        });
    }
    QJsonArray unreached;
    for (const UnreachedDevice &device : report.unreached) {
        const bool suggested = device.suggestedNumber > 0;
        unreached.append(QJsonObject{
            {QStringLiteral("device"), device.usb.device},
            {QStringLiteral("name"), device.stableName},
            {QStringLiteral("usb"), usbJson(device.usb)},
            {QStringLiteral("socket"), device.socket.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(device.socket)},
            {QStringLiteral("suggestedNumber"), suggested ? QJsonValue(device.suggestedNumber) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("command"), suggested ? QJsonValue(linkCommandFor(device.suggestedNumber, device.stableName))
                                                  : QJsonValue(QJsonValue::Null)},
        });
    }
    return QJsonObject{{QStringLiteral("linkFolder"), report.linkFolder},
                       {QStringLiteral("linkFolders"), QJsonArray::fromStringList(report.linkFolders)},
                       {QStringLiteral("ports"), ports},
                       {QStringLiteral("unreached"), unreached}};
}

} // namespace quobin::cli
