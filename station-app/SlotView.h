#pragma once

#include <QString>

namespace quobin {

// What one slot is doing, as the operator reads it on its tile.
enum class SlotState {
    Stopped,    // the station is not running
    NoAdapter,  // the slot's device is missing; it waits for it to appear
    Waiting,    // waiting for a board
    Noisy,      // the line keeps sending "^" without a board answering; the slot waits for quiet
    Flashing,   // a board is being written
    Pass,       // the last board passed
    Fail,       // the last board failed; reason says why
    Cancelled,  // the board in progress was cancelled by Stop
    Unsaved,    // the last board's record is not saved yet; the slot takes no board until it is
    ScanWanted, // the job asks for each board's ID: the slot waits for its label to be scanned
};

// One slot as its tile shows it.
struct SlotView {
    QString label;        // "Com 1", or the adapter's by-id name
    QString adapter;      // the device and what its adapter says of itself
    SlotState state = SlotState::Stopped;
    int percent = 0;      // while flashing
    int secondsLeft = -1; // while flashing; negative until it can be told
    QString reason;       // for a failure, in the operator's words; while a scan is wanted, the last board's result
    int passed = 0;
    int failed = 0;
    QString serial;       // the serial number of the board in progress; empty without
    QString lastSerial;   // of the slot's last good board
    // While the slot waits for a board's ID: why the last scan was refused
    // (shown until the next scan), and whether the next scan goes to it.
    QString scanRefusal;
    bool scanServed = false;
};

// "Serial 105   Last 104" for a run with serial numbers; empty without.
QString serialText(const SlotView &slot);

// The state as words: "waiting for a board", "flashing 45 %", "PASS",
// "FAIL: No answer from the controller". Screen readers read the same text.
QString slotStateText(const SlotView &slot);
// A symbol for each state, so that colour is never the only cue.
QString slotStateSymbol(SlotState state);
// "1:05 left" while flashing, once it can be told; empty otherwise.
QString timeLeftText(int secondsLeft);

// The counts of a run, for the header.
struct RunTotals {
    QString jobName;
    QString jobSha256;  // hex
    // For a run from an approved job: its version and who approved it; 0
    // and empty for a run on a file.
    int jobVersion = 0;
    QString jobApprover;
    int passed = 0;
    int failed = 0;
    // Boards that passed of the boards that came to an end of their own, in
    // per cent; negative before the first such board.
    double firstPassYield = -1;
    double boardsPerHour = 0;
    // Boards that said "^" and never answered, counted apart.
    int noResponse = 0;
    QString nextSerial;  // "pump 106": the series and its next number; empty without serials
};

// "main.hex  1a2b3c4d5e6f": the job's name and the first 12 hex digits of its
// SHA-256; for an approved job "Job pump version 2  approved by alice  1a2b3c4d5e6f".
QString jobHeaderText(const RunTotals &totals);
// "Passed 12   Failed 1   First-pass yield 92.3 %   Boards per hour 48"
QString totalsText(const RunTotals &totals);

} // namespace quobin
