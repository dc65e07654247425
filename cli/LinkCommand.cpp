#include "LinkCommand.h"

#include <cstdio>

namespace quobin::cli {

int LinkCommand::run(const QStringList &arguments)
{
    Q_UNUSED(arguments);
    std::fputs("quobin-cli: not built yet\n", stderr);
    return ExitUsage;
}

} // namespace quobin::cli
