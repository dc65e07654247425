#include "Clock.h"

#include <chrono>
#include <thread>

namespace quobin {

namespace {
qint64 steadyMsecs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

qint64 Clock::msecsNow()
{
    return steadyMsecs();
}

qint64 SteadyClock::now()
{
    return steadyMsecs() / 1000;
}

int SteadyClock::msecsToNextSecond()
{
    return int(1000 - steadyMsecs() % 1000);
}

void SteadyClock::sleep(int msecs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(msecs));
}

} // namespace quobin
