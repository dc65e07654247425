#include "TerminalColumns.h"

#include <io.h>
#include <windows.h>

namespace quobin::cli {

int terminalColumns(std::FILE *out)
{
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

} // namespace quobin::cli
