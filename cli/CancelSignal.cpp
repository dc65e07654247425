#include "CancelSignal.h"

#include <csignal>

namespace quobin::cli {

namespace {

std::atomic<bool> g_cancel{false};
static_assert(std::atomic<bool>::is_always_lock_free);

struct sigaction g_oldInt {};
struct sigaction g_oldTerm {};

extern "C" void onCancelSignal(int)
{
    g_cancel.store(true, std::memory_order_relaxed);
}

} // namespace

CancelSignal::CancelSignal()
{
    g_cancel = false;
    struct sigaction action {};
    action.sa_handler = onCancelSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_oldInt);
    sigaction(SIGTERM, &action, &g_oldTerm);
}

CancelSignal::~CancelSignal()
{
    sigaction(SIGINT, &g_oldInt, nullptr);
    sigaction(SIGTERM, &g_oldTerm, nullptr);
}

bool CancelSignal::requested()
{
    return g_cancel.load(std::memory_order_relaxed);
}

} // namespace quobin::cli
