#pragma once

#include "SlotView.h"
#include "StationSetup.h"

#include <QObject>

namespace quobin {

namespace records {
class RecordStore;
}

// The station as the window drives it: start a run, ask it to stop, and hear
// what its slots do. The signals may be emitted from any thread; the window
// receives them queued on its own.
class StationDriver : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts a run with this set-up: one slot per port, the job read once,
    // each board recorded into store, which outlives the run.
    // Throws std::runtime_error with the operator's message when the
    // station cannot start at all.
    virtual void start(const StationSetup &setup, records::RecordStore &store) = 0;
    // Cancels the boards in progress at the engine's checkpoints; ended()
    // follows once every slot has stopped and recorded.
    virtual void requestStop() = 0;
    // A board is being flashed on some slot now.
    virtual bool boardsInProgress() const = 0;
    // A board's ID as scanned, for the slot (its index) that waits for one;
    // the slot checks it and flashes its board or refuses it.
    virtual void giveBoardId(int slot, const QString &id) = 0;

signals:
    void slotChanged(int index, const quobin::SlotView &slot);
    void totalsChanged(const quobin::RunTotals &totals);
    // A board's record was committed and its slot shows the result.
    void boardEnded(int index, bool passed);
    // Something the operator should know (the job file changed on disk,
    // records waiting for their server); empty clears it.
    void notice(const QString &text);
    // The run is over; problem is empty after a Stop, else why it could not go on.
    void ended(const QString &problem);
};

} // namespace quobin

Q_DECLARE_METATYPE(quobin::SlotView)
Q_DECLARE_METATYPE(quobin::RunTotals)
