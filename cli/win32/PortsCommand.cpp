#include "PortsCommand.h"

#include "LinkedPorts.h"
#include "PortDescription.h"
#include "PortNames.h"
#include "UsbLocation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>

namespace quobin::cli {

namespace {

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue hex4(const std::optional<quint16> &id)
{
    if (!id)
        return QJsonValue::Null;
    return QString::number(*id, 16).rightJustified(4, QLatin1Char('0'));
}

} // namespace

// The COM ports that Windows knows, each with what its device says of
// itself; the window's "Com 1" to "Com 8" are COM1 to COM8, but for those
// linked to a serial server, listed after them.
int PortsCommand::run(const QStringList &arguments)
{
    bool json = false;
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--json")) {
            json = true;
        } else {
            std::fprintf(stderr, "quobin-cli: ports: unknown argument '%s'\nUsage: quobin-cli ports [--json]\n",
                         argument.toLocal8Bit().constData());
            return ExitUsage;
        }
    }
    const QList<DeviceDescription> devices = presentSerialDevices();
    const LinkedPorts links = linkedPorts(m_context.folders.linkFolders(), m_context.folders.writeFolder());
    // The window's Com n reaches COMn unless Com n is linked elsewhere.
    auto inWindow = [&links](int number) {
        if (number < kFirstComPort || number > kLastComPort)
            return false;
        return std::none_of(links.ports.cbegin(), links.ports.cend(),
                            [number](const LinkedPort &port) { return port.number == number && port.mapping.inLinkFile; });
    };
    if (json) {
        QJsonArray ports;
        for (const DeviceDescription &d : devices) {
            const int number = comNumberNamed(d.device);
            ports.append(QJsonObject{
                {QStringLiteral("port"), d.device},
                {QStringLiteral("number"), number},
                {QStringLiteral("inWindow"), inWindow(number)},
                {QStringLiteral("description"), textOrNull(d.product)},
                {QStringLiteral("manufacturer"), textOrNull(d.manufacturer)},
                {QStringLiteral("serialNumber"), textOrNull(d.serialNumber)},
                {QStringLiteral("vendorId"), hex4(d.vendorId)},
                {QStringLiteral("productId"), hex4(d.productId)},
                {QStringLiteral("socket"), textOrNull(d.socket)}});
        }
        QJsonObject report = linkedPortsJson(links);
        report.insert(QStringLiteral("ports"), ports);
        std::fputs(QJsonDocument(report)
                       .toJson(QJsonDocument::Compact)
                       .append('\n')
                       .constData(),
                   stdout);
        return ExitSuccess;
    }
    QString text;
    if (devices.isEmpty())
        text += QStringLiteral("Windows knows no COM port.\n");
    for (const DeviceDescription &d : devices) {
        const int number = comNumberNamed(d.device);
        QString line = d.device.leftJustified(7);
        line += inWindow(number) ? QStringLiteral("Com %1").arg(number).leftJustified(7) : QStringLiteral("-").leftJustified(7);
        const QString said = d.text();
        line += said.isEmpty() ? QStringLiteral("(no description)") : said;
        text += line.trimmed() + QLatin1Char('\n');
        // The USB socket names the port whichever adapter is put in it.
        if (!d.socket.isEmpty())
            text += QStringLiteral("       socket %1 (%2)\n").arg(d.socket, UsbLocation::shortName(d.socket));
    }
    text += linkedPortsText(links);
    text += QStringLiteral("The window offers Com 1 to Com 8; quobin-cli takes any number (--port 12).\n");
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return ExitSuccess;
}

} // namespace quobin::cli
