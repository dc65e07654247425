#include "CancelSignal.h"

#include <windows.h>

namespace quobin::cli {

namespace {

// The first console event that cancelled; 0 while none has come.
std::atomic<DWORD> g_event{0};
std::atomic<bool> g_installed{false};
std::atomic<bool> g_finished{false};

// How long a console that is being closed waits for the ports to end their
// work (Windows ends the process 5 s after the close regardless).
constexpr DWORD kCloseGraceMsecs = 4500;

// Runs on a thread of its own that the console starts: Ctrl-C and
// Ctrl-Break act as SIGINT does on Linux, closing the console window,
// logging off and shutting down as SIGTERM does. For those the process ends
// when this returns, so it gives the engine its checkpoints' time first.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    DWORD none = 0;
    g_event.compare_exchange_strong(none, event + 1, std::memory_order_relaxed);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        for (DWORD waited = 0; waited < kCloseGraceMsecs && !g_finished.load(); waited += 50)
            Sleep(50);
    }
    return TRUE;
}

} // namespace

CancelSignal::CancelSignal()
{
    g_event = 0;
    g_finished = false;
    // A console started without Ctrl-C processing (as a child of a process
    // that turned it off) would never tell us: turn it on for ourselves.
    SetConsoleCtrlHandler(nullptr, FALSE);
    g_installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
}

CancelSignal::~CancelSignal()
{
    g_finished = true;
    if (g_installed.exchange(false))
        SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

bool CancelSignal::requested()
{
    return g_event.load(std::memory_order_relaxed) != 0;
}

// Windows has no hang-up apart from the console's close, which cancels as
// SIGTERM does.
bool CancelSignal::hungUp()
{
    return false;
}

} // namespace quobin::cli
