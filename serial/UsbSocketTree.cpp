#include "UsbSocketTree.h"

#include "PortNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace quobin {

namespace {

const QString kSocketFolder = QStringLiteral("dev/serial/by-path");

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString firstLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine()).trimmed();
}

// The terminals of the kernel under a USB interface's folder: ttyUSB0 (a
// folder of its own, USB serial drivers), or tty/ttyACM0 (modems).
QStringList terminalsUnder(const QString &interfaceFolder)
{
    const QDir folder(interfaceFolder);
    QStringList names = QDir(folder.filePath(QStringLiteral("tty"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &entry : folder.entryList({QStringLiteral("tty*")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (entry != QLatin1String("tty"))
            names << entry;
    }
    return names;
}

// A socket's name as udev writes it: HOST-usb-0:PORTS:CONFIG.INTERFACE[-portN];
// newer udev also writes usbv2, usbv3.
const QRegularExpression &socketNamePattern()
{
    static const QRegularExpression name(
        QStringLiteral("^(.*)-usb(?:v\\d+)?-0:([0-9]+(?:\\.[0-9]+)*):([0-9]+)\\.([0-9]+)(?:-port([0-9]+))?$"));
    return name;
}

} // namespace

UsbSocketTree::UsbSocketTree(QString root) : m_root(QDir::cleanPath(root.isEmpty() ? QStringLiteral("/") : root)) {}

bool UsbSocketTree::namesSocket(const QString &path)
{
    if (path.contains(QLatin1String("://")))
        return false;
    const QString folder = QFileInfo(cleanAbsolute(path)).path();
    return folder == QLatin1Char('/') + kSocketFolder || folder.endsWith(QLatin1Char('/') + kSocketFolder);
}

QString UsbSocketTree::socketBehind(const QString &path)
{
    if (namesSocket(path))
        return cleanAbsolute(path);
    const QString held = linkText(path);
    if (held.isEmpty() || held.contains(QLatin1String("://")))
        return {};
    const QString target = QDir::cleanPath(QDir(QFileInfo(path).path()).absoluteFilePath(held));
    return namesSocket(target) ? target : QString();
}

UsbSocketTree UsbSocketTree::of(const QString &path)
{
    if (!namesSocket(path))
        return UsbSocketTree();
    const QString folder = QFileInfo(cleanAbsolute(path)).path();
    return UsbSocketTree(folder.left(folder.size() - kSocketFolder.size()));
}

QString UsbSocketTree::socketFolder() const
{
    return QDir::cleanPath(m_root + QLatin1Char('/') + kSocketFolder);
}

QString UsbSocketTree::sysPath(const QString &relative) const
{
    return QDir::cleanPath(m_root + QStringLiteral("/sys/") + relative);
}

QString UsbSocketTree::socketOf(const QString &device) const
{
    const QString wanted = QFileInfo(device).canonicalFilePath();
    if (wanted.isEmpty())
        return {};
    const QDir folder(socketFolder());
    const QStringList names = folder.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString path = folder.filePath(name);
        if (QFileInfo(path).canonicalFilePath() == wanted)
            return path;
    }
    return {};
}

SocketContent UsbSocketTree::contentOf(const QString &socket) const
{
    const QFileInfo link(socket);
    if (link.isSymLink()) {
        const QString target = linkText(socket);
        const QString device = QDir::cleanPath(QDir(link.path()).absoluteFilePath(target));
        if (QFileInfo::exists(device)) {
            SocketContent content;
            content.kernelName = QFileInfo(target).fileName();
            if (!QFileInfo::exists(sysPath(QStringLiteral("class/tty/") + content.kernelName))) {
                content.notSerial = QStringLiteral("the socket %1 leads to %2, which is no terminal of the kernel")
                                        .arg(socket, device);
                return content;
            }
            content.device = device;
            content.usbSerial = usbSerialOf(content.kernelName);
            return content;
        }
    }
    // No link (no udev, or no serial adapter in the socket): the USB device
    // in that socket, looked for where the kernel lists it.
    return fromSysfs(link.fileName());
}

QString UsbSocketTree::shortName(const QString &socket)
{
    const QString name = QFileInfo(socket).fileName();
    const QRegularExpressionMatch match = socketNamePattern().match(name);
    if (!match.hasMatch())
        return name;
    QString text = QStringLiteral("socket ") + match.captured(2);
    if (match.captured(4) != QLatin1String("0"))
        text += QStringLiteral(" if ") + match.captured(4);
    if (!match.captured(5).isEmpty() && match.captured(5) != QLatin1String("0"))
        text += QStringLiteral(" port ") + match.captured(5);
    return text;
}

SocketContent UsbSocketTree::fromSysfs(const QString &socketName) const
{
    const QRegularExpressionMatch match = socketNamePattern().match(socketName);
    if (!match.hasMatch())
        return {};
    // The host controller: the last PCI address on its path.
    const QString host = match.captured(1);
    const qsizetype pci = host.lastIndexOf(QLatin1String("pci-"));
    const QString controller = pci < 0 ? QString() : host.mid(pci + 4).section(QLatin1Char('-'), 0, 0);
    const QString ports = match.captured(2);

    const QDir usbDevices(sysPath(QStringLiteral("bus/usb/devices")));
    const QRegularExpression deviceName(QStringLiteral("^[0-9]+-") + QRegularExpression::escape(ports) + QLatin1Char('$'));
    for (const QString &entry : usbDevices.entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!deviceName.match(entry).hasMatch())
            continue;
        const QString folder = QFileInfo(usbDevices.filePath(entry)).canonicalFilePath();
        if (folder.isEmpty() || (!controller.isEmpty() && !folder.contains(QLatin1Char('/') + controller + QLatin1Char('/'))))
            continue;
        SocketContent content;
        const QString interface = QStringLiteral("%1/%2:%3.%4").arg(folder, entry, match.captured(3), match.captured(4));
        const QStringList terminals = terminalsUnder(interface);
        if (!terminals.isEmpty()) {
            content.kernelName = terminals.first();
            const QString device = QDir::cleanPath(m_root + QStringLiteral("/dev/") + content.kernelName);
            if (QFileInfo::exists(device))
                content.device = device;
            content.usbSerial = firstLine(folder + QStringLiteral("/serial"));
            return content;
        }
        QString what = firstLine(folder + QStringLiteral("/product"));
        const QString ids = firstLine(folder + QStringLiteral("/idVendor")) + QLatin1Char(':')
                            + firstLine(folder + QStringLiteral("/idProduct"));
        if (ids.size() > 1)
            what = what.isEmpty() ? QStringLiteral("a USB device %1").arg(ids) : QStringLiteral("%1 (%2)").arg(what, ids);
        if (what.isEmpty())
            what = QStringLiteral("a USB device");
        content.kernelName = entry;
        content.notSerial = QStringLiteral("the socket %1 holds %2, which is not a serial adapter")
                                .arg(QDir(socketFolder()).filePath(socketName), what);
        return content;
    }
    return {};
}

QString UsbSocketTree::usbSerialOf(const QString &kernelName) const
{
    // From the terminal's device up to the USB device, which has the ids.
    QString folder = QFileInfo(sysPath(QStringLiteral("class/tty/%1/device").arg(kernelName))).canonicalFilePath();
    for (int up = 0; up < 4 && !folder.isEmpty() && folder != QLatin1String("/"); ++up) {
        if (QFileInfo::exists(folder + QStringLiteral("/idVendor")))
            return firstLine(folder + QStringLiteral("/serial"));
        folder = QFileInfo(folder).path();
    }
    return {};
}

} // namespace quobin
