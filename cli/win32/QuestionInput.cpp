#include "QuestionDesk.h"

#include "CancelSignal.h"

#include <QByteArray>

#include <io.h>
#include <windows.h>

namespace quobin::cli {

namespace {

// How often a waiting question looks at the cancel flag.
constexpr DWORD kCancelCheckMsecs = 100;

HANDLE inputHandle(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Whether a byte can be read without blocking for long: a pipe says how
// many wait; a console is signalled by any input event (a key pressed), and
// its line is then read as the operator ends it; a file always can.
bool inputReady(HANDLE input)
{
    switch (GetFileType(input)) {
    case FILE_TYPE_PIPE: {
        DWORD waiting = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr))
            return true; // the writer has gone: the read says so
        if (waiting > 0)
            return true;
        Sleep(kCancelCheckMsecs);
        return false;
    }
    case FILE_TYPE_CHAR:
        return WaitForSingleObject(input, kCancelCheckMsecs) == WAIT_OBJECT_0;
    default:
        return true;
    }
}

} // namespace

bool QuestionDesk::inputIsTerminal() const
{
    DWORD mode = 0;
    return GetConsoleMode(inputHandle(m_inputFd), &mode) != 0;
}

// Reads one line byte by byte, so that nothing after it is taken from the
// next question; looks at the cancel flag while nothing has come.
QString QuestionDesk::readAnswer(bool &interrupted)
{
    const HANDLE input = inputHandle(m_inputFd);
    QByteArray line;
    while (!m_inputEnded) {
        if (CancelSignal::requested()) {
            interrupted = true;
            return {};
        }
        if (input == INVALID_HANDLE_VALUE) {
            m_inputEnded = true;
            break;
        }
        if (!inputReady(input))
            continue;
        char byte = 0;
        DWORD n = 0;
        if (!ReadFile(input, &byte, 1, &n, nullptr) || n == 0) {
            // A console read that Ctrl-C broke off is no end of input.
            if (CancelSignal::requested())
                continue;
            m_inputEnded = true;
            break;
        }
        if (byte == '\r')
            continue;
        if (byte == '\n')
            return QString::fromLocal8Bit(line);
        line += byte;
    }
    return QString::fromLocal8Bit(line);
}

} // namespace quobin::cli
