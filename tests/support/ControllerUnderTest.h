#pragma once

#include "Recording.h"
#include "SimulatorConfig.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace quobin::testing {

// The controller that an end-to-end case uploads to, playing the case's
// SimulatorConfig on "Com 1", and what it received. The build picks where
// it runs: in the test's own process on a pseudo-terminal linked as com1 in
// the link folder (InProcessController.cpp), or outside it, as the Linux
// vantor-sim on a COM port of Wine that a controller host starts for the
// test (ExternalController.cpp).
class ControllerUnderTest {
public:
    virtual ~ControllerUnderTest() = default;

    virtual QList<sim::ReceivedChunk> receivedChunks() const = 0;
    virtual QByteArray mainCodeBytes() const = 0;           // everything the main code received
    virtual int requestCount() const = 0;                   // "@&$" requests
    virtual QList<sim::TimePoint> requestTimes() const = 0; // when each request's first byte came
    virtual QList<QByteArray> receivedLines() const = 0;    // firmware lines, resends included
    virtual QList<sim::LineCount> lineCounts() const = 0;   // how often each line arrived

    // The far end disappears, as a device pulled out.
    virtual void vanish() = 0;
    // "Com number" now leads to a device that does not exist.
    virtual void linkToNoDevice(int number) = 0;
};

// Starts the controller; the link folder is where the window looks for its
// comN links. Fails the test (throws) when the controller cannot be had.
std::unique_ptr<ControllerUnderTest> startController(sim::SimulatorConfig config, const QString &linkFolder);

} // namespace quobin::testing
