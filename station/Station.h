#pragma once

#include "RecordKeeper.h"
#include "RunControl.h"
#include "Slot.h"

#include <QList>
#include <QString>

#include <functional>

namespace quobin::station {

struct StationSetup {
    QList<SlotAddress> slotAddresses;
    // The run ends after this many good boards in all; 0 for no end.
    int goodBoards = 0;
    ErrorPolicy policy = ErrorPolicy::Stop;
    QString stationName;
    QString quobinVersion;
    // Serial numbers for the boards; none without.
    const StationSerials *serials = nullptr;
    // An approved job, read and checked for every board; the job given to
    // the station is then its first version, and no file is watched.
    JobSupply *jobs = nullptr;
    // Board IDs, for a job that asks for them.
    BoardIdSource *boardIds = nullptr;
};

// A station: one job, board after board on every slot at once, each board
// recorded. Each slot has its own thread, port and engine; the slots share
// only the store, the observer and the run's counts. One slot never holds up
// another.
class Station {
public:
    enum class End {
        CountReached, // the good boards asked for have passed
        Cancelled,    // cancelRequested() said so; the boards in progress were cancelled
        Failed,       // the station could not go on: failure() says why
        BoardIdsEnded, // no more board IDs came; the boards that had one were finished
    };

    Station(StationSetup setup, const StationJob &job, records::RecordStore &store,
            StationObserver &observer, PortFactory openPort, BoardLogFactory *logs = nullptr);

    // Runs every slot until the run ends. cancelRequested is asked a few
    // times a second on the calling thread (Ctrl-C, a Stop button).
    End run(const std::function<bool()> &cancelRequested);

    StationCounts counts() const { return m_control.counts(); }
    QString failure() const { return m_control.failure(); }
    // Records the store has not taken by the end of the run (it was
    // cancelled while they were retried): in the side file when one could
    // be written, else nowhere but here.
    QList<records::BoardRecord> unsavedRecords() const { return m_keeper.held(); }
    QString sideFile() const { return m_keeper.sideFile(); }

private:
    void watch();
    void lookAtJob();

    const StationSetup m_setup;
    const StationJob &m_job;
    records::RecordStore &m_store;
    StationObserver &m_observer;
    PortFactory m_openPort;
    BoardLogFactory *m_logs;
    RunControl m_control;
    RecordKeeper m_keeper;
    int m_recordsWaiting = 0;
    QString m_serverProblem;
    QString m_jobProblem;
};

} // namespace quobin::station
