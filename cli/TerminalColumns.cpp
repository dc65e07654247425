#include "TerminalColumns.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace quobin::cli {

int terminalColumns(std::FILE *out)
{
#ifdef Q_OS_UNIX
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0)
        return size.ws_col;
#endif
    Q_UNUSED(out);
    return 0;
}

} // namespace quobin::cli
