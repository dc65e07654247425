#include "CancelSignal.h"

#include <csignal>

namespace quobin::cli {

namespace {

// The first cancelling signal received; 0 while none has come.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction g_oldInt {};
struct sigaction g_oldTerm {};
struct sigaction g_oldHup {};

extern "C" void onCancelSignal(int number)
{
    int none = 0;
    g_signal.compare_exchange_strong(none, number, std::memory_order_relaxed);
}

} // namespace

CancelSignal::CancelSignal()
{
    g_signal = 0;
    struct sigaction action {};
    action.sa_handler = onCancelSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_oldInt);
    sigaction(SIGTERM, &action, &g_oldTerm);
    sigaction(SIGHUP, &action, &g_oldHup);
}

CancelSignal::~CancelSignal()
{
    sigaction(SIGINT, &g_oldInt, nullptr);
    sigaction(SIGTERM, &g_oldTerm, nullptr);
    sigaction(SIGHUP, &g_oldHup, nullptr);
}

bool CancelSignal::requested()
{
    return g_signal.load(std::memory_order_relaxed) != 0;
}

bool CancelSignal::hungUp()
{
    return g_signal.load(std::memory_order_relaxed) == SIGHUP;
}

} // namespace quobin::cli
