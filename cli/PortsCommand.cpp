#include "PortsCommand.h"

#include "PortsReport.h"

#include <QJsonDocument>

#include <cstdio>

namespace quobin::cli {

int PortsCommand::run(const QStringList &arguments)
{
    bool json = false;
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--json")) {
            json = true;
        } else {
            std::fprintf(stderr, "quobin-cli: ports: unknown argument '%s'\nUsage: quobin-cli ports [--json]\n",
                         qPrintable(argument));
            return ExitUsage;
        }
    }
    const PortsReport report = gatherPorts(m_context.folders, systemSerialDevices());
    if (json)
        std::fputs(QJsonDocument(portsJson(report)).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
    else
        std::fputs(portsText(report).toLocal8Bit().constData(), stdout);
    return ExitSuccess;
}

} // namespace quobin::cli
