#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <functional>

namespace quobin {

class Clock;
class SerialPort;

// What a wait may do between its passes. A wait with no cancelRequested does
// not watch the Cancel button; a wait with no letEventsRun runs no window
// events (and then blocks on the port alone while nothing arrives).
struct WaitHooks {
    std::function<bool()> cancelRequested;
    // Lets pending events run; may block up to the given milliseconds for
    // one to arrive when none is pending.
    std::function<void(int maxBlockMsecs)> letEventsRun;
};

enum class WaitEnd { Ended, Cancelled };

// The waits for the controller. Every pass reads the clock and the port
// afresh and evaluates all of its tests. A pass that finds nothing to do
// blocks until a byte arrives, an event comes, or the clock's next second,
// rather than spin the processor.
class PollWithDeadline {
public:
    PollWithDeadline(SerialPort &port, Clock &clock);

    // Waits while fewer than limitSeconds whole seconds have passed since
    // startTime and nothing is waiting; then appends whatever is waiting to
    // response. Cancelled when the cancel hook fires during the wait.
    WaitEnd forFirstByte(qint64 startTime, int limitSeconds, QByteArray &response,
                         const WaitHooks &hooks);

    // Appends what arrives to response while it holds none of the markers,
    // cancel is not requested, and fewer than limitSeconds whole seconds have
    // passed since startTime. A cancel simply ends the wait.
    void collectUntilMarker(qint64 startTime, int limitSeconds, QByteArray &response,
                            const QByteArray &markers, const WaitHooks &hooks);
    // The same, until response holds count marker bytes in all.
    void collectUntilMarkers(qint64 startTime, int limitSeconds, QByteArray &response,
                             const QByteArray &markers, int count, const WaitHooks &hooks);

    // Appends what arrives to response until it holds the marker, with no
    // limit. Cancelled when the cancel hook fires while nothing is waiting.
    // Only what has just arrived is searched; until the marker comes,
    // response keeps no more than the last kMarkerWaitTail bytes, so a line
    // that sends noise for hours costs neither memory nor time. The read
    // that brings the marker is kept whole, after that tail.
    WaitEnd forMarker(char marker, QByteArray &response, const WaitHooks &hooks);
    static constexpr qsizetype kMarkerWaitTail = 4096;

    // Appends what arrives to response until nothing has arrived for
    // quietMsecs, or boundMsecs have passed since the wait began. A reply
    // that comes in pieces is whole by then. Runs no window events: it lasts
    // a fraction of a second.
    void untilQuiet(QByteArray &response, int quietMsecs, int boundMsecs);

    // Appends what arrives to response until it holds the marker, or
    // boundMsecs have passed. Runs no window events.
    void forMarkerWithin(char marker, QByteArray &response, int boundMsecs);

    // True when text holds any of the marker bytes.
    static bool containsAny(const QByteArray &text, const QByteArray &markers);
    // The number of marker bytes in text.
    static int countOf(const QByteArray &text, const QByteArray &markers);

private:
    void idle(const WaitHooks &hooks, int maxBlockMsecs);

    SerialPort &m_port;
    Clock &m_clock;
};

} // namespace quobin
