#include "LivePublisher.h"

#include "LiveSink.h"
#include "RecordStore.h"

#include <algorithm>

namespace quobin::station {

using Clock = std::chrono::steady_clock;

LivePublisher::LivePublisher(records::LiveSink &sink, LiveRun run, std::function<void(const QString &)> warn,
                             LivePacing pacing)
    : m_sink(sink), m_warn(std::move(warn)), m_pacing(pacing)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    m_station.station = run.station;
    m_station.jobName = run.jobName;
    m_station.jobVersion = run.jobVersion;
    m_station.jobFile = run.jobFile;
    m_station.slotCount = int(run.slotNames.size());
    m_station.started = now;
    for (int i = 0; i < run.slotNames.size(); ++i) {
        records::LiveSlot slot;
        slot.index = i;
        slot.slot = run.slotNames[i];
        slot.state = stateWord(SlotState::Waiting);
        slot.text = QStringLiteral("waiting for a board");
        slot.changed = now;
        m_slots.append(slot);
        m_slotChanged.append(true);
    }
    m_thread = std::thread([this] { loop(); });
}

LivePublisher::~LivePublisher()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void LivePublisher::finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    records::LiveSnapshot last;
    {
        std::lock_guard lock(m_mutex);
        // A live view that is not being written is not tried once more at
        // the end: the run would wait for its server's timeout again, and
        // the page shows a station it no longer hears from anyway.
        if (m_failing)
            return;
        m_station.stopped = true;
        last = takeSnapshot();
    }
    send(last);
}

QString LivePublisher::stateWord(SlotState state)
{
    switch (state) {
    case SlotState::NoAdapter: return QStringLiteral("no-adapter");
    case SlotState::PortTrouble: return QStringLiteral("port-trouble");
    case SlotState::Waiting: return QStringLiteral("waiting");
    case SlotState::WaitingForId: return QStringLiteral("waiting-for-board-id");
    case SlotState::Noisy: return QStringLiteral("noisy");
    case SlotState::Flashing: return QStringLiteral("flashing");
    case SlotState::Passed: return QStringLiteral("passed");
    case SlotState::Failed: return QStringLiteral("failed");
    case SlotState::Unsaved: return QStringLiteral("unsaved");
    case SlotState::Stopped: return QStringLiteral("stopped");
    }
    return QStringLiteral("stopped");
}

void LivePublisher::changed(int slot)
{
    m_slotChanged[slot] = true;
    // The thread wakes when there is something to write, not at every
    // step of a slot's progress.
    if (!m_dirty) {
        m_dirty = true;
        m_wake.notify_all();
    }
}

void LivePublisher::boardStarted(int slot)
{
    std::lock_guard lock(m_mutex);
    if (slot < 0 || slot >= m_slots.size())
        return;
    records::LiveSlot &row = m_slots[slot];
    row.state = stateWord(SlotState::Flashing);
    row.percent = 0;
    row.changed = QDateTime::currentDateTimeUtc();
    changed(slot);
}

void LivePublisher::slotStatus(int slot, SlotState state, const QString &text)
{
    std::lock_guard lock(m_mutex);
    if (slot < 0 || slot >= m_slots.size())
        return;
    records::LiveSlot &row = m_slots[slot];
    const QString word = stateWord(state);
    // As on the station's tile, a board's result stays while the slot
    // waits for the next board: the board has been swapped by the time
    // anyone looks.
    if (state == SlotState::Waiting
        && (row.state == stateWord(SlotState::Passed) || row.state == stateWord(SlotState::Failed)))
        return;
    // A failure is told by its reason alone, as the tile tells it.
    QString shown = text;
    if (state == SlotState::Failed && shown.startsWith(QLatin1String("FAIL ")))
        shown.remove(0, 5);
    if (row.state == word && row.text == shown)
        return;
    row.state = word;
    row.text = shown;
    if (state != SlotState::Flashing)
        row.percent.reset();
    else if (!row.percent)
        row.percent = 0;
    row.changed = QDateTime::currentDateTimeUtc();
    changed(slot);
}

void LivePublisher::progress(int slot, int sent, int total)
{
    std::lock_guard lock(m_mutex);
    if (slot < 0 || slot >= m_slots.size() || total <= 0)
        return;
    records::LiveSlot &row = m_slots[slot];
    const int percent = std::clamp(int(qint64(sent) * 100 / total), 0, 100);
    if (row.percent == percent)
        return;
    row.percent = percent;
    changed(slot);
}

void LivePublisher::recorded(int slot, const records::BoardRecord &record, const StationCounts &counts)
{
    Q_UNUSED(counts);
    std::lock_guard lock(m_mutex);
    if (slot < 0 || slot >= m_slots.size())
        return;
    records::LiveSlot &row = m_slots[slot];
    row.boardId = record.boardId;
    if (record.serial)
        row.serial = record.serial;
    // An approved job's new version reaches the boards one by one.
    if (record.fromJob()) {
        m_station.jobName = record.jobName;
        m_station.jobVersion = record.jobVersion;
    }
    if (!record.jobFile.isEmpty())
        m_station.jobFile = record.jobFile;
    changed(slot);
}

void LivePublisher::serials(int slot, std::optional<quint64> inProgress, std::optional<quint64> last)
{
    std::lock_guard lock(m_mutex);
    if (slot < 0 || slot >= m_slots.size())
        return;
    const std::optional<quint64> shown = inProgress ? inProgress : last;
    if (m_slots[slot].serial == shown)
        return;
    m_slots[slot].serial = shown;
    changed(slot);
}

void LivePublisher::boardIdTaken(int slot, const QString &id, bool reflash)
{
    Q_UNUSED(reflash);
    std::lock_guard lock(m_mutex);
    if (slot < 0 || slot >= m_slots.size() || m_slots[slot].boardId == id)
        return;
    m_slots[slot].boardId = id;
    changed(slot);
}

records::LiveSnapshot LivePublisher::takeSnapshot()
{
    records::LiveSnapshot snapshot;
    m_station.heartbeat = QDateTime::currentDateTimeUtc();
    snapshot.station = m_station;
    for (int i = 0; i < m_slots.size(); ++i) {
        if (m_slotChanged[i])
            snapshot.slotRows.append(m_slots[i]);
        m_slotChanged[i] = false;
    }
    m_dirty = false;
    m_lastAttempt = Clock::now();
    return snapshot;
}

bool LivePublisher::send(const records::LiveSnapshot &snapshot)
{
    std::lock_guard sending(m_sending);
    QString problem;
    try {
        m_sink.write(snapshot);
    } catch (const records::RecordStoreError &error) {
        problem = error.reason();
    }
    bool wasFailing = false;
    {
        std::lock_guard lock(m_mutex);
        wasFailing = m_failing;
        m_failing = !problem.isEmpty();
        if (m_failing) {
            // What did not go out goes with the next attempt, as it is then.
            for (const records::LiveSlot &slot : snapshot.slotRows)
                m_slotChanged[slot.index] = true;
            m_dirty = true;
        }
    }
    if (!problem.isEmpty() && !wasFailing)
        m_warn(QStringLiteral("the live view is not written (%1); the boards and their records go on").arg(problem));
    else if (problem.isEmpty() && wasFailing)
        m_warn(QStringLiteral("the live view is written into %1 again").arg(m_sink.describe()));
    return problem.isEmpty();
}

void LivePublisher::loop()
{
    for (;;) {
        records::LiveSnapshot snapshot;
        {
            std::unique_lock lock(m_mutex);
            for (;;) {
                if (m_stopping)
                    return;
                const auto wait = !m_dirty ? m_pacing.heartbeat : m_failing ? m_pacing.retry : m_pacing.gap;
                const Clock::time_point due = m_lastAttempt + wait;
                if (Clock::now() >= due)
                    break;
                m_wake.wait_until(lock, due);
            }
            snapshot = takeSnapshot();
        }
        send(snapshot);
    }
}

} // namespace quobin::station
