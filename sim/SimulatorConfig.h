#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace quobin::sim {

// A named misbehaviour of the controller. line is the 1-based number of a
// firmware line, counted over every line the simulator has received (a resend
// is a new line); millis and text refine some kinds and fall back to the
// default given with each kind when negative or empty.
struct Fault {
    enum Kind {
        Silent,            // never answers "@&$"
        Echo,              // answers each "@&$" with "@&$" and no "?"
        CaretWithQuestion, // sends "^?" in one write instead of "^"
        ChecksumOnce,      // "-" to line k; a resend is answered normally
        ChecksumAlways,    // "-" to line k and to every resend of it
        FlashError,        // "%" to line k
        HashAnswer,        // "#" to line k
        NoAnswer,          // nothing at all to line k
        LateAnswer,        // the answer to line k comes millis later (3500); later lines' answers do not wait for it
        LateInOrder,       // the answer to line k comes millis later (3500), and every later answer after it
        SplitAnswer,       // "x" first, the answer to line k millis later (20)
        CustomAnswer,      // text instead of the answer to line k
        NoCompletion,      // the end-of-file record is answered with "~", not "@"
        XoffHold,          // XOFF with the answer to line k, XON millis later (2000)
        Garbage,           // text ("xyz") millis (1) after the answer to line k, every line when k is 0
        Vanish,            // on line k the pseudo-terminal closes: the far end disappears
        SplitReply,        // the reply to "@&$" in two writes: "?", then "V<version>" millis later (3)
    };

    Fault(Kind kind, int line = 0, int millis = -1, QByteArray text = {}, int board = 0)
        : kind(kind), line(line), millis(millis), text(std::move(text)), board(board)
    {
    }

    // True when the fault concerns the board numbered `current` (from 1).
    bool concernsBoard(int current) const { return board == 0 || board == current; }

    Kind kind;
    int line = 0;
    int millis = -1;
    QByteArray text;
    // 0: every board, and line counts every line received; otherwise only
    // the board-th board, and line counts that board's lines.
    int board = 0;
};

// A fixture: board after board arrives in the bootloader and announces
// itself with "^", as the operator swaps them.
struct FixtureConfig {
    bool enabled = false;
    // A new board arrives this long after the last one answered "@".
    int gapMs = 1000;
    // A board that did not finish is swapped once the host has sent nothing
    // to it for this long (longer than the host's 3-second waits); 0: never.
    int quietSwapMs = 4000;
    // The fixture holds this many boards; 0 for no end. The operator's reset
    // always brings one more.
    int boards = 0;
};

struct SimulatorConfig {
    // Text after "V" in the reply to "@&$"; empty: the reply is "?" alone.
    QByteArray version;
    // Delay from the main-code command to "^"; negative: "^" is sent only
    // through ControllerSimulator::sendActiveCharacter().
    int caretDelayMs = 300;
    QList<Fault> faults;
    // Model a real wire at the host's baud rate: 10 bits per byte each way.
    bool paced = false;
    // On a paced wire, poll without sleeping around each answer, so that a
    // late wake-up of this thread never slows the wire. That costs a good
    // share of a core per simulator: many simulators on few cores sleep
    // instead and accept a wake-up's delay on each answer.
    bool stayAwake = true;
    // A line that is not an Intel HEX record ends after this quiet gap.
    int lineGapMs = 20;
    FixtureConfig fixture;
    // Receives a line of text for each chunk read and written; called on the
    // simulator's thread.
    std::function<void(const QString &)> log;
};

} // namespace quobin::sim
