#pragma once

#include "Clock.h"

#include <QElapsedTimer>
#include <QThread>

#include <functional>

namespace quobin::testing {

// A clock the test drives. Each reading can move it on by itself, so that a
// wait under test reaches its limit without real time passing.
class FakeClock : public Clock {
public:
    qint64 seconds = 100;
    // Called before each reading; may advance `seconds`.
    std::function<void(FakeClock &)> onRead;
    int sleptMsecs = 0;

    qint64 now() override
    {
        ++reads;
        if (onRead)
            onRead(*this);
        return seconds;
    }
    int msecsToNextSecond() override { return 1; }
    void sleep(int msecs) override { sleptMsecs += msecs; }

    int reads = 0;
};

// Real time, but a "second" lasts only a fraction of one: end-to-end tests
// go through every timed wait quickly on the real serial layer.
class FastClock : public Clock {
public:
    explicit FastClock(int msecsPerSecond) : m_msecsPerSecond(msecsPerSecond) { m_timer.start(); }
    qint64 now() override { return m_timer.elapsed() / m_msecsPerSecond; }
    int msecsToNextSecond() override
    {
        return int(m_msecsPerSecond - m_timer.elapsed() % m_msecsPerSecond);
    }
    void sleep(int msecs) override { QThread::msleep(ulong(msecs)); }

private:
    int m_msecsPerSecond;
    QElapsedTimer m_timer;
};

} // namespace quobin::testing
