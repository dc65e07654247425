#pragma once

#include <QByteArray>
#include <QList>

#include <chrono>

namespace quobin::sim {

using SimClock = std::chrono::steady_clock;
using TimePoint = SimClock::time_point;

// The host's line settings as the slave side of the pseudo-terminal holds them.
struct LineSettings {
    int baud = 0;
    bool ixon = false;
    bool ixoff = false;
    bool ixany = false;

    bool xonXoff() const { return ixon && ixoff; }
    bool operator==(const LineSettings &) const = default;
};

// One read from the host, with the line settings in force when it was read.
// A chunk written just before the host changed its settings may be seen with
// the new ones: the settings are sampled when the simulator reads.
struct ReceivedChunk {
    QByteArray bytes;
    LineSettings settings;
    TimePoint at;
};

// One firmware line as the bootloader delimited it.
struct LineRecord {
    QByteArray text;
    TimePoint firstByteAt;
    TimePoint completeAt;
};

// One board that came into the bootloader: numbered from 1 in order of
// arrival, the firmware lines it took into its flash (answered "~" or "@",
// without "-" or "%"), every line it received, resends included, and
// whether its end-of-file record was answered with "@".
struct BoardLog {
    int number = 0;
    QList<QByteArray> lines;
    int linesReceived = 0;
    bool completed = false;
};

// How often the bootloader received one line's text, the lines in the order
// each first arrived.
struct LineCount {
    QByteArray text;
    int times = 0;
    bool operator==(const LineCount &) const = default;
};

// One write to the host. line is the 1-based number of the firmware line that
// the bytes answer, 0 for everything else (the active character, replies to
// requests, injected bytes).
struct SentChunk {
    QByteArray bytes;
    TimePoint at;
    int line = 0;
};

} // namespace quobin::sim
