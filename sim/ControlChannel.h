#pragma once

#include "ControllerSimulator.h"

#include <QByteArray>

#include <atomic>
#include <thread>

namespace quobin::sim {

// Commands to a running simulator, one a line on standard input, each
// answered with one line on standard output, for a program that plays the
// operator and reads what the controller received:
//   report  a JSON object of everything received so far (see reportOf)
//   vanish  the far end disappears, as a device pulled out; "ok"
//   reset   the operator resets the controller; "ok"
// Served on a thread of its own until destruction; the end of the input
// ends the commands, not the simulator.
class ControlChannel {
public:
    ControlChannel(ControllerSimulator &simulator, int inputFd, int outputFd);
    ~ControlChannel();
    ControlChannel(const ControlChannel &) = delete;
    ControlChannel &operator=(const ControlChannel &) = delete;

    // What the controller received, as one line of compact JSON: "mainCode"
    // (hex), "requests" (when each "@&$" began), "chunks" (each read from the
    // host: hex "bytes", "baud", "ixon", "ixoff", "ixany", "us"), "lines"
    // (every firmware line in hex, resends included) and "lineCounts"
    // ([times, hex] in order of first arrival). Times are microseconds
    // since origin on the simulator's steady clock.
    static QByteArray reportOf(const ControllerSimulator &simulator, TimePoint origin);

    // The answer to one command line.
    QByteArray answer(const QByteArray &command);

private:
    void run();

    ControllerSimulator &m_simulator;
    const int m_input;
    const int m_output;
    const TimePoint m_origin;
    std::atomic<bool> m_stopping { false };
    std::thread m_thread;
};

} // namespace quobin::sim
