#pragma once

#include "StationObserver.h"

#include <QElapsedTimer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

namespace quobin::station {

// What every slot of a station shares besides the store: whether the run is
// ending, and the counts. Thread-safe.
class RunControl {
public:
    // goodBoards: the run ends after this many passes in all; 0 for no end.
    RunControl(int goodBoards, int slotCount);

    // Ctrl-C: the boards in progress stop at the engine's checkpoints.
    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }
    // No new boards: the waiting slots stop, boards in progress finish.
    bool finishing() const { return m_finishing; }
    bool countReached() const { return m_countReached; }
    // No board ID will come any more: a slot that wants one ends; the
    // others finish the board they have, and the run then ends as a
    // normal end.
    void noMoreBoardIds() { m_boardIdsEnded = true; }
    bool boardIdsEnded() const { return m_boardIdsEnded; }

    // A board ID taken by a slot until its board's record is made: the same
    // ID scanned for a second slot meanwhile is refused. False when another
    // slot holds it.
    bool claimBoardId(const QString &id);
    void releaseBoardId(const QString &id);

    // The station cannot go on (no slot can be used, nothing can keep the
    // records): it takes no new board, the boards in progress finish and are
    // recorded, and the first reason is kept.
    void fail(const QString &reason);
    QString failure() const;

    // A slot whose device is there but cannot be opened says so, and says
    // when it can again. When no slot can be used, the station fails.
    void setTrouble(int slot, const QString &reason);
    void clearTrouble(int slot);

    // Counts a recorded board; the count may end the run.
    StationCounts countBoard(bool passed, bool cancelled);
    // Counts a recorded no-response apart from the boards.
    StationCounts countNoResponse();
    StationCounts counts() const;

private:
    const int m_goodBoards;
    QElapsedTimer m_running;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_finishing{false};
    std::atomic<bool> m_countReached{false};
    std::atomic<bool> m_boardIdsEnded{false};
    mutable std::mutex m_mutex;
    StationCounts m_counts;
    QString m_failure;
    QSet<QString> m_claimedBoardIds;
    QStringList m_trouble; // per slot: why it cannot be used, empty when it can
};

} // namespace quobin::station
