#include "LinkCommand.h"

#include <cstdio>

namespace quobin::cli {

// On Windows "Com n" is COMn itself: there are no links to make. A USB
// adapter gets its number in the Device Manager (the port's Advanced
// settings), where Windows keeps it.
int LinkCommand::run(const QStringList &)
{
    std::fputs("quobin-cli: link has no meaning on Windows: \"Com N\" is COMN itself.\n"
               "To give a USB adapter another number, change its COM port number in the Device Manager\n"
               "(Ports (COM & LPT), the adapter's Properties, Port Settings, Advanced).\n",
               stderr);
    return ExitUsage;
}

} // namespace quobin::cli
