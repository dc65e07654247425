#pragma once

#include "LiveState.h"
#include "StationObserver.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace quobin::records {
class LiveSink;
}

namespace quobin::station {

// What the live view says of a run before its first board.
struct LiveRun {
    QString station;
    QStringList slotNames;        // in the order given
    QString jobName;              // empty for a run on a file
    std::optional<int> jobVersion;
    QString jobFile;              // the image file's name, without its folder
};

// How often the live view is written.
struct LivePacing {
    // At most one write in this time: a slot's progress goes out a few
    // times a second, however fast it moves.
    std::chrono::milliseconds gap{250};
    // A write, changed or not, at least this often.
    std::chrono::milliseconds heartbeat{5000};
    // While the database cannot be written, the next attempt after this.
    std::chrono::milliseconds retry{2000};
};

// The station's live view in the records database: an observer of the
// station like the printer and the tiles. The slots' calls only note the
// latest state of each slot (never waiting for the database); a thread of
// the publisher's own hands it to the sink, paced, a newer state replacing
// one not yet written. A database that is away or slow costs the live view
// only: warn() hears of it once, and once more when it is written again.
class LivePublisher : public StationObserver {
public:
    // warn: called from the publisher's thread.
    LivePublisher(records::LiveSink &sink, LiveRun run, std::function<void(const QString &)> warn,
                  LivePacing pacing = {});
    // Stops writing; a run that was not finished stays "running" in the
    // view, its heartbeat growing old, as a station that was killed.
    ~LivePublisher() override;
    LivePublisher(const LivePublisher &) = delete;
    LivePublisher &operator=(const LivePublisher &) = delete;

    // The run has ended cleanly: writes the last states, the station
    // "stopped", unless the live view is failing. Waits for the sink, whose
    // waits are bounded.
    void finish();

    void boardStarted(int slot) override;
    void slotStatus(int slot, SlotState state, const QString &text) override;
    void progress(int slot, int sent, int total) override;
    void recorded(int slot, const records::BoardRecord &record, const StationCounts &counts) override;
    void warning(const QString &text) override { Q_UNUSED(text); }
    void serials(int slot, std::optional<quint64> inProgress, std::optional<quint64> last) override;
    void boardIdTaken(int slot, const QString &id, bool reflash) override;

    // The word the live view uses for a slot's state.
    static QString stateWord(SlotState state);

private:
    void loop();
    // Under m_mutex: the station's row and the slots changed since the
    // last snapshot, which are then no longer marked.
    records::LiveSnapshot takeSnapshot();
    // Writes outside m_mutex; true when it went through.
    bool send(const records::LiveSnapshot &snapshot);
    void changed(int slot);

    records::LiveSink &m_sink;
    const std::function<void(const QString &)> m_warn;
    const LivePacing m_pacing;

    std::mutex m_mutex;            // guards what follows
    std::condition_variable m_wake;
    records::LiveStation m_station;
    QList<records::LiveSlot> m_slots;
    QList<bool> m_slotChanged;
    bool m_dirty = true;
    bool m_stopping = false;
    bool m_failing = false;        // the last write did not go through
    std::chrono::steady_clock::time_point m_lastAttempt;

    std::mutex m_sending;          // one write at a time: the loop's, or finish()'s
    std::thread m_thread;
};

} // namespace quobin::station
