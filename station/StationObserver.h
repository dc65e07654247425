#pragma once

#include "BoardRecord.h"

#include <QString>

#include <optional>

namespace quobin::station {

// What a slot is doing, as a front end shows it.
enum class SlotState {
    NoAdapter,   // the device is missing; the slot looks for it
    PortTrouble, // the device is there but cannot be opened; the slot tries again
    Waiting,     // waiting for a board ("^")
    WaitingForId, // waiting for the next board's ID (the job asks for one), before its board
    Noisy,       // the line keeps sending without a board answering; the slot waits for it to fall quiet
    Flashing,    // a board is being flashed
    Passed,      // the last board passed
    Failed,      // the last board failed
    Unsaved,     // the last board's record is not in the store yet; the slot retries it
    Stopped,     // the slot has ended
};

// The figures of a run so far.
struct StationCounts {
    int passed = 0;
    int failed = 0;     // every end but a pass and a cancel
    int cancelled = 0;  // stopped by the operator: neither passed nor failed
    // Boards that said "^" and then never answered, counted apart from the
    // boards: a line that keeps sending "^" is not a stream of failed boards.
    int noResponse = 0;
    double hours = 0;   // since the station started

    // Boards that were judged: a cancelled board says nothing of the line.
    int boards() const { return passed + failed; }
    // Boards that passed of all boards judged, as quobin-cli records
    // counts it (a board is known only by its slot and time, so a board
    // flashed again is another board); 0 before the first.
    double firstPassYield() const { return boards() > 0 ? double(passed) / boards() : 0; }
    double boardsPerHour() const { return hours > 0 ? boards() / hours : 0; }
};

// How a front end hears of the station. The calls come from the slots'
// threads, several at once: an implementation is thread-safe. slot is the
// index of the slot as given.
class StationObserver {
public:
    virtual ~StationObserver() = default;

    // A board said "^": its handshake and transfer begin.
    virtual void boardStarted(int slot) = 0;
    // The slot's state; text says it in words ("waiting for a board",
    // "no adapter", the engine's status while flashing, the result's message).
    virtual void slotStatus(int slot, SlotState state, const QString &text) = 0;
    // Lines sent of the lines to send.
    virtual void progress(int slot, int sent, int total) = 0;
    // A board's record, already committed to the store; the slot shows its
    // result only after this.
    virtual void recorded(int slot, const records::BoardRecord &record, const StationCounts &counts) = 0;
    // Something the operator should know once (the job file changed, the
    // records wait for their server).
    virtual void warning(const QString &text) = 0;
    // Records kept locally until their server takes them, and why the
    // server did not take them at the last attempt (empty while it does);
    // called when either changes.
    virtual void recordsWaiting(int count, const QString &reason) { Q_UNUSED(count); Q_UNUSED(reason); }
    // The serial number of the board in progress on slot (none between
    // boards) and of the slot's last good board.
    virtual void serials(int slot, std::optional<quint64> inProgress, std::optional<quint64> last)
    {
        Q_UNUSED(slot); Q_UNUSED(inProgress); Q_UNUSED(last);
    }
    // The number the series' next board gets, when known.
    virtual void nextSerial(std::optional<quint64> number) { Q_UNUSED(number); }
    // The slot waits for its next board's ID (the job asks for one).
    virtual void boardIdWanted(int slot) { Q_UNUSED(slot); }
    // An ID given for slot was refused (reason says why: it does not match
    // the job's rule, or that board passed already); the slot still waits.
    virtual void boardIdRefused(int slot, const QString &id, const QString &reason)
    {
        Q_UNUSED(slot); Q_UNUSED(id); Q_UNUSED(reason);
    }
    // The slot took id for its next board; reflash: that board passed
    // before, and the job allows flashing it again.
    virtual void boardIdTaken(int slot, const QString &id, bool reflash)
    {
        Q_UNUSED(slot); Q_UNUSED(id); Q_UNUSED(reflash);
    }
    // A few times a second from the thread that runs the station, for
    // front ends that redraw.
    virtual void tick(const StationCounts &counts) { Q_UNUSED(counts); }
};

} // namespace quobin::station
