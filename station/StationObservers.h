#pragma once

#include "StationObserver.h"

#include <QList>

namespace quobin::station {

// Several front ends of one station (the printer or the tiles, and the live
// view): every call goes to each, in the order given. Thread-safe as they
// are.
class StationObservers : public StationObserver {
public:
    explicit StationObservers(QList<StationObserver *> observers);

    void boardStarted(int slot) override;
    void slotStatus(int slot, SlotState state, const QString &text) override;
    void progress(int slot, int sent, int total) override;
    void recorded(int slot, const records::BoardRecord &record, const StationCounts &counts) override;
    void warning(const QString &text) override;
    void recordsWaiting(int count, const QString &reason) override;
    void serials(int slot, std::optional<quint64> inProgress, std::optional<quint64> last) override;
    void nextSerial(std::optional<quint64> number) override;
    void boardIdWanted(int slot) override;
    void boardIdRefused(int slot, const QString &id, const QString &reason) override;
    void boardIdTaken(int slot, const QString &id, bool reflash) override;
    void tick(const StationCounts &counts) override;

private:
    const QList<StationObserver *> m_observers;
};

} // namespace quobin::station
