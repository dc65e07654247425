#include "PollWithDeadline.h"

#include "Clock.h"
#include "SerialPort.h"

namespace quobin {

namespace {

bool requested(const WaitHooks &hooks)
{
    return hooks.cancelRequested && hooks.cancelRequested();
}

} // namespace

PollWithDeadline::PollWithDeadline(SerialPort &port, Clock &clock) : m_port(port), m_clock(clock) {}

bool PollWithDeadline::containsAny(const QByteArray &text, const QByteArray &markers)
{
    for (const char marker : markers) {
        if (text.contains(marker))
            return true;
    }
    return false;
}

int PollWithDeadline::countOf(const QByteArray &text, const QByteArray &markers)
{
    int count = 0;
    for (const char c : text) {
        if (markers.contains(c))
            ++count;
    }
    return count;
}

void PollWithDeadline::idle(const WaitHooks &hooks, int maxBlockMsecs)
{
    if (hooks.letEventsRun)
        hooks.letEventsRun(maxBlockMsecs);
    else if (maxBlockMsecs > 0)
        m_port.waitForInput(maxBlockMsecs);
}

WaitEnd PollWithDeadline::forFirstByte(qint64 startTime, int limitSeconds, QByteArray &response,
                            const WaitHooks &hooks)
{
    for (;;) {
        const bool inTime = m_clock.now() - startTime < limitSeconds;
        const bool nothingWaiting = m_port.inBufferCount() == 0;
        if (!inTime || !nothingWaiting)
            break;
        if (requested(hooks))
            return WaitEnd::Cancelled;
        idle(hooks, m_clock.msecsToNextSecond());
    }
    if (m_port.inBufferCount() > 0)
        response += m_port.input();
    return WaitEnd::Ended;
}

void PollWithDeadline::collectUntilMarker(qint64 startTime, int limitSeconds, QByteArray &response,
                               const QByteArray &markers, const WaitHooks &hooks)
{
    collectUntilMarkers(startTime, limitSeconds, response, markers, 1, hooks);
}

void PollWithDeadline::collectUntilMarkers(qint64 startTime, int limitSeconds, QByteArray &response,
                                           const QByteArray &markers, int count,
                                           const WaitHooks &hooks)
{
    for (;;) {
        const qint64 now = m_clock.now();
        const bool noMarker = countOf(response, markers) < count;
        const bool notCancelled = !requested(hooks);
        const bool inTime = now - startTime < limitSeconds;
        if (!noMarker || !notCancelled || !inTime)
            return;
        const QByteArray arrived = m_port.input();
        response += arrived;
        // Block only when the read brought nothing: what it brought may
        // already hold a marker, which the next pass must see at once.
        idle(hooks, arrived.isEmpty() ? m_clock.msecsToNextSecond() : 0);
    }
}

WaitEnd PollWithDeadline::forMarker(char marker, QByteArray &response, const WaitHooks &hooks)
{
    bool found = response.contains(marker);
    while (!found) {
        while (m_port.inBufferCount() == 0) {
            if (requested(hooks))
                return WaitEnd::Cancelled;
            // No limit to watch, but wake each second all the same, so the
            // wait never hangs on a single missed wake-up.
            idle(hooks, m_clock.msecsToNextSecond());
        }
        // What was searched before holds no marker: only the new bytes can.
        const QByteArray arrived = m_port.input();
        found = arrived.contains(marker);
        if (!found && arrived.size() >= kMarkerWaitTail) {
            response = arrived.right(kMarkerWaitTail);
            continue;
        }
        response += arrived;
        if (!found && response.size() > kMarkerWaitTail)
            response.remove(0, response.size() - kMarkerWaitTail);
    }
    return WaitEnd::Ended;
}

void PollWithDeadline::untilQuiet(QByteArray &response, int quietMsecs, int boundMsecs)
{
    const qint64 start = m_clock.msecsNow();
    qint64 lastArrival = start;
    for (;;) {
        const qint64 now = m_clock.msecsNow();
        // The bound is looked at first: a line that never falls quiet
        // cannot keep the wait going.
        if (now - start >= boundMsecs)
            return;
        if (m_port.inBufferCount() > 0) {
            response += m_port.input();
            lastArrival = now;
        } else if (now - lastArrival >= quietMsecs) {
            return;
        } else {
            m_port.waitForInput(int(qMin(lastArrival + quietMsecs, start + boundMsecs) - now));
        }
    }
}

void PollWithDeadline::forMarkerWithin(char marker, QByteArray &response, int boundMsecs)
{
    const qint64 start = m_clock.msecsNow();
    for (;;) {
        if (m_port.inBufferCount() > 0)
            response += m_port.input();
        if (response.contains(marker))
            return;
        const qint64 left = start + boundMsecs - m_clock.msecsNow();
        if (left <= 0)
            return;
        m_port.waitForInput(int(left));
    }
}

} // namespace quobin
