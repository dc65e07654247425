#pragma once

#include "SerialAllocator.h"
#include "SerialCounters.h"

#include <QList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

namespace quobin::records {

// Where a pool takes its numbers: a counter in a records database.
class SerialCounter {
public:
    virtual ~SerialCounter() = default;
    // Up to count numbers, taken for good; fewer when the series ends.
    // Throws RecordStoreError when the counter cannot be reached.
    virtual QList<quint64> take(int count) = 0;
    // Numbers taken and not used go back to the series.
    virtual void giveBack(const QList<quint64> &numbers) = 0;
    // A server the line shares, which may be away for a while.
    virtual bool remote() const { return false; }
};

// A station's numbers: taken from the counter a block at a time and kept in
// memory, the lowest handed out first. A failed board's number goes back
// into the pool, so the next board gets it. The pool is topped up when it
// falls to `low` numbers; while the counter cannot be reached the slots go
// on with what is left, then wait: a number is never made up.
class SerialPool : public SerialAllocator {
public:
    struct Sizes {
        int block = 1; // numbers taken at once
        int low = 0;   // top up when this many or fewer are left
    };

    SerialPool(SerialCounter &counter, const SeriesRule &rule, Sizes sizes);
    ~SerialPool() override;
    SerialPool(const SerialPool &) = delete;
    SerialPool &operator=(const SerialPool &) = delete;

    void prepare() override;
    Take take() override;
    void passed(quint64 number) override;
    void failed(quint64 number) override;
    std::optional<quint64> next() const override;
    void finish() override;

    // Numbers in hand, not yet sent to a board.
    int inHand() const;

    static QString serverAwayText() { return QStringLiteral("no serial numbers: the records server is away"); }
    QString runOutText() const;

private:
    // Why there is no number now, when the counter could not be used.
    QString unreachedText() const;
    // Takes a block from the counter, outside the lock; true when it could.
    bool topUp(std::unique_lock<std::mutex> &lock);
    // The same on a thread of its own, while the slots go on with the
    // numbers in hand: a server that is away holds up no board.
    void topUpAside();

    SerialCounter &m_counter;
    const SeriesRule m_rule;
    const Sizes m_sizes;
    mutable std::mutex m_mutex;
    std::condition_variable m_toppedUp;
    std::set<quint64> m_available;
    std::set<quint64> m_out;       // sent to a board that has not ended yet
    bool m_toppingUp = false;
    bool m_runOut = false;
    std::optional<quint64> m_highest; // the highest number taken from the counter
    QString m_problem;                // why the counter could not be used last, empty when it could
    std::chrono::steady_clock::time_point m_nextTry{};
    std::thread m_topper;
};

} // namespace quobin::records
