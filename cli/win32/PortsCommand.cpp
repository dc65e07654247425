#include "PortsCommand.h"

#include "PortDescription.h"
#include "PortNames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
// itself; the window's "Com 1" to "Com 8" are COM1 to COM8.
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
    if (json) {
        QJsonArray ports;
        for (const DeviceDescription &d : devices) {
            const int number = comNumberNamed(d.device);
            ports.append(QJsonObject{
                {QStringLiteral("port"), d.device},
                {QStringLiteral("number"), number},
                {QStringLiteral("inWindow"), number >= kFirstComPort && number <= kLastComPort},
                {QStringLiteral("description"), textOrNull(d.product)},
                {QStringLiteral("manufacturer"), textOrNull(d.manufacturer)},
                {QStringLiteral("serialNumber"), textOrNull(d.serialNumber)},
                {QStringLiteral("vendorId"), hex4(d.vendorId)},
                {QStringLiteral("productId"), hex4(d.productId)}});
        }
        std::fputs(QJsonDocument(QJsonObject{{QStringLiteral("ports"), ports}})
                       .toJson(QJsonDocument::Compact)
                       .append('\n')
                       .constData(),
                   stdout);
        return ExitSuccess;
    }
    if (devices.isEmpty()) {
        std::fputs("Windows knows no COM port.\n", stdout);
        return ExitSuccess;
    }
    QString text;
    for (const DeviceDescription &d : devices) {
        const int number = comNumberNamed(d.device);
        QString line = d.device.leftJustified(7);
        line += number >= kFirstComPort && number <= kLastComPort ? QStringLiteral("Com %1").arg(number).leftJustified(7)
                                                                  : QStringLiteral("-").leftJustified(7);
        const QString said = d.text();
        line += said.isEmpty() ? QStringLiteral("(no description)") : said;
        text += line.trimmed() + QLatin1Char('\n');
    }
    text += QStringLiteral("The window offers Com 1 to Com 8; quobin-cli takes any number (--port 12).\n");
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return ExitSuccess;
}

} // namespace quobin::cli
