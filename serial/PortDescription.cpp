#include "PortDescription.h"

#include "NetworkPortAddress.h"
#include "PortNames.h"

#include <QDir>
#include <QFileInfo>

namespace quobin {

namespace {

// The device a path finally names; the path itself when it leads nowhere.
QString finalDevice(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical;
}

QString hex4(quint16 value)
{
    return QString::number(value, 16).rightJustified(4, QLatin1Char('0'));
}

} // namespace

QString DeviceDescription::text() const
{
    QStringList parts;
    const QString maker = manufacturer.trimmed();
    QString name = product.trimmed();
    if (!maker.isEmpty() && !name.startsWith(maker))
        name = name.isEmpty() ? maker : maker + QLatin1Char(' ') + name;
    if (!name.isEmpty())
        parts << name;
    if (!serialNumber.trimmed().isEmpty())
        parts << QStringLiteral("serial ") + serialNumber.trimmed();
    if (vendorId && productId)
        parts << hex4(*vendorId) + QLatin1Char(':') + hex4(*productId);
    return parts.join(QStringLiteral(", "));
}

std::optional<DeviceDescription> describeDevice(const QString &devicePath, const QList<DeviceDescription> &devices)
{
    const QString wanted = finalDevice(devicePath);
    for (const DeviceDescription &d : devices) {
        if (finalDevice(d.device) == wanted)
            return d;
    }
    return std::nullopt;
}

QString deviceInListedSocket(const QString &socket, const QList<DeviceDescription> &devices)
{
    for (const DeviceDescription &d : devices) {
        if (!d.socket.isEmpty() && d.socket.compare(socket, Qt::CaseInsensitive) == 0)
            return d.device;
    }
    return {};
}

std::optional<DeviceDescription> describeDevice(const QString &devicePath)
{
    return describeDevice(devicePath, presentSerialDevices());
}

QString stableDeviceName(const QString &devicePath, const QString &byIdFolder)
{
    const QString wanted = finalDevice(devicePath);
    const QDir folder(byIdFolder);
    const QStringList names = folder.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString path = folder.filePath(name);
        if (finalDevice(path) == wanted)
            return path;
    }
    return devicePath;
}

QString describePort(qint16 number, const QStringList &linkFolders)
{
    const PortMapping mapping = portMappingFor(number, linkFolders);
    // A serial server, linked in the file of links or by a comN link that
    // holds its address: nothing on this machine to look at; the server
    // answers when the port opens.
    if (mapping.inLinkFile || NetworkPortAddress::names(mapping.device)) {
        const QString where = mapping.inLinkFile ? QStringLiteral("link in ") : QStringLiteral("link ");
        return QStringLiteral("%1 (%2%3)\na serial server on the network (RFC 2217); reached when the port opens")
            .arg(mapping.device, where, QDir::toNativeSeparators(mapping.link));
    }
    if (!serialDeviceExists(mapping.device)) {
        if (mapping.link.isEmpty())
            return mapping.device + QStringLiteral(" (default)\nmissing");
        return mapping.link + QStringLiteral(" leads to ") + QFileInfo(mapping.link).symLinkTarget()
            + QStringLiteral("\nmissing");
    }
    QString text = mapping.device + (mapping.link.isEmpty() ? QStringLiteral(" (default)")
                                                            : QStringLiteral(" (link ") + mapping.link + QLatin1Char(')'));
    const auto description = describeDevice(mapping.device);
    if (description && !description->text().isEmpty())
        text += QLatin1Char('\n') + description->text();
    return text;
}

} // namespace quobin
