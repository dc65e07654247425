#pragma once

#include "SimulatorConfig.h"

#include <QByteArray>
#include <QList>

namespace quobin::sim {

// One thing the controller does after an input: bytes to write delayMs later,
// or, with vanish, the disappearance of the far end.
struct PlannedOutput {
    int delayMs = 0;
    QByteArray bytes;
    bool vanish = false;
};

// Turns the configured faults into what the controller sends in reply to
// requests, to the main-code command and to each firmware line.
class FaultPlan {
public:
    FaultPlan(QList<Fault> faults, QByteArray version);

    // The faults from here on concern the board numbered `board` (from 1).
    void startBoard(int board) { m_board = board; }

    // True when a fault of this kind concerns the current board.
    bool has(Fault::Kind kind) const;
    // True when no answer to a line may overtake an earlier one.
    bool answersInOrder() const { return has(Fault::LateInOrder); }

    // The active character the bootloader sends after a reset.
    QByteArray activeCharacter() const;
    // The reply to "@&$", in one write or in pieces; empty when the
    // controller stays silent.
    QList<PlannedOutput> requestReply() const;
    // What follows line number `line` (1-based, over every line received),
    // the board's own line number `boardLine`, with the given text, whose
    // answer without faults is `answer`.
    QList<PlannedOutput> answerLine(int line, int boardLine, const QByteArray &text,
                                    const QByteArray &answer);

private:
    QList<Fault> m_faults;
    QByteArray m_version;
    int m_board = 0;
    QByteArray m_repeatedBadLine; // text of a ChecksumAlways line, "-" to its resends
};

} // namespace quobin::sim
