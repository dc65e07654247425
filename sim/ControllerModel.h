#pragma once

#include "FaultPlan.h"
#include "LineFramer.h"
#include "OutputSchedule.h"
#include "Recording.h"
#include "SimulatorConfig.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace quobin::sim {

// The controller's behaviour without any I/O: its main code and bootloader,
// the faults it is told to show, and the record of everything it received.
// Inputs come with the time they were read; outputs go into schedule().
// Not thread-safe: its owner serialises every call.
class ControllerModel {
public:
    enum class Mode { MainCode, Bootloader };

    static constexpr int mainCodeBaud = 9600;
    static constexpr int bootloaderBaud = 57600;

    explicit ControllerModel(const SimulatorConfig &config);

    // Bytes the host wrote, read at now while the host's line had settings.
    void receive(const QByteArray &bytes, const LineSettings &settings, TimePoint now);
    // Lets time pass: ends lines whose quiet gap is over.
    void tick(TimePoint now);
    // The operator resets the controller: it enters its bootloader and sends
    // the active character now.
    void reset(TimePoint now);

    // The next time tick() has something to do, or an output falls due.
    std::optional<TimePoint> nextDeadline() const;
    OutputSchedule &schedule() { return m_schedule; }
    const OutputSchedule &schedule() const { return m_schedule; }

    Mode mode() const { return m_mode; }
    const QList<ReceivedChunk> &chunks() const { return m_chunks; }
    const QByteArray &mainCodeBytes() const { return m_mainCodeBytes; }
    const QList<TimePoint> &requestTimes() const { return m_requestTimes; }
    const QList<LineRecord> &lines() const { return m_lines; }
    QList<LineCount> lineCounts() const;
    // End-of-file records answered so far.
    int uploadsCompleted() const { return m_uploadsCompleted; }
    // Main-code commands recognised so far.
    int mainCodeCommands() const { return m_mainCodeCommands; }
    // Every board that has sent its "^", in order of arrival.
    const QList<BoardLog> &boards() const { return m_boards; }

private:
    void receiveMainCode(const QByteArray &bytes, TimePoint now);
    void handle(const FramedItem &item, TimePoint now);
    void answerLine(const FramedItem &item, TimePoint now);
    void enterBootloader();
    void arrive(int delayMs, TimePoint now);
    void planFixture(TimePoint now);
    bool fixtureHoldsMore() const;
    // Schedules outputs at now plus their delays, none before notBefore.
    TimePoint plan(const QList<PlannedOutput> &outputs, TimePoint now, int line,
                   TimePoint notBefore = {});

    FaultPlan m_faults;
    int m_caretDelayMs;
    FixtureConfig m_fixture;
    std::optional<TimePoint> m_nextArrival;  // a fixture's next board
    std::optional<TimePoint> m_lastHostByteAt; // since the current board's "^"
    std::optional<TimePoint> m_unheardCaretAt; // a fixture board's "^" the host has not answered yet
    Mode m_mode = Mode::MainCode;
    QByteArray m_commandWindow; // the last bytes of main-code input
    LineFramer m_framer;
    OutputSchedule m_schedule;

    QList<ReceivedChunk> m_chunks;
    QByteArray m_mainCodeBytes;
    QList<TimePoint> m_requestTimes;
    QList<LineRecord> m_lines;
    TimePoint m_lastAnswerDue;
    int m_uploadsCompleted = 0;
    int m_mainCodeCommands = 0;
    QList<BoardLog> m_boards;
};

} // namespace quobin::sim
