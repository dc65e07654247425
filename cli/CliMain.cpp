#include "CliMain.h"

#include "CheckCommand.h"
#include "HelpText.h"
#include "JobCommand.h"
#include "LinkCommand.h"
#include "PortsCommand.h"
#include "RecordsCommand.h"
#include "StationCommand.h"
#include "UploadCommand.h"

#include <cstdio>

namespace quobin::cli {

namespace {

const char kUsage[] =
    "Usage:\n"
    "  quobin-cli upload [--port PORT]... [--on-error ask|stop|continue]\n"
    "                    [--wait-for-controller SECONDS] [--json] [--log FILE] [--no-check] FILE\n"
    "  quobin-cli check [--serial FORMAT] FILE\n"
    "  quobin-cli ports [--json]\n"
    "  quobin-cli link N {link-target}\n"
    "  quobin-cli station [--slot PORT]... [--count N] [--on-error stop|continue] [--records TARGET]\n"
    "                     [--station NAME] [--log-dir DIR] [--json] FILE\n"
    "  quobin-cli station [--slot PORT]... [--count N] [--records TARGET] [--station NAME]\n"
    "                     [--log-dir DIR] [--json] --job NAME\n"
    "  quobin-cli records [--records TARGET] [--since TIME] [--csv | --json]\n"
    "  quobin-cli job approve NAME IMAGE [--serial FORMAT] [--on-error stop|continue] [--records TARGET]\n"
    "  quobin-cli job list|show NAME|withdraw NAME [--records TARGET] [--json]\n"
    "  quobin-cli --help | --version\n"
    "A serial number's FORMAT: SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]], e.g. pump@0x0800F000:4:le\n"
    "(ENCODING le, be or ascii; quobin-cli check --help says more).\n";

} // namespace

int runCli(const QStringList &arguments, const CliContext &context)
{
    const QString command = arguments.value(1);
    const QStringList rest = arguments.mid(2);
    if (command == QLatin1String("upload"))
        return UploadCommand(context).run(rest);
    if (command == QLatin1String("check"))
        return CheckCommand(context).run(rest);
    if (command == QLatin1String("ports"))
        return PortsCommand(context).run(rest);
    if (command == QLatin1String("link"))
        return LinkCommand(context).run(rest);
    if (command == QLatin1String("station"))
        return StationCommand(context).run(rest);
    if (command == QLatin1String("records"))
        return RecordsCommand(context).run(rest);
    if (command == QLatin1String("job"))
        return JobCommand(context).run(rest);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(helpText(kUsage).constData(), stdout);
        return ExitSuccess;
    }
    if (command == QLatin1String("--version")) {
        std::printf("quobin-cli %d.%d\n", QUOBIN_VERSION_MAJOR, QUOBIN_VERSION_MINOR);
        return ExitSuccess;
    }
    if (command.isEmpty())
        std::fputs("quobin-cli: no command given\n", stderr);
    else
        std::fprintf(stderr, "quobin-cli: unknown command '%s'\n", qPrintable(command));
    std::fputs(helpText(kUsage).constData(), stderr);
    return ExitUsage;
}

} // namespace quobin::cli
