#include "StationObservers.h"

namespace quobin::station {

StationObservers::StationObservers(QList<StationObserver *> observers)
    : m_observers([](QList<StationObserver *> list) {
          list.removeAll(nullptr);
          return list;
      }(std::move(observers)))
{
}

void StationObservers::boardStarted(int slot)
{
    for (StationObserver *observer : m_observers)
        observer->boardStarted(slot);
}

void StationObservers::slotStatus(int slot, SlotState state, const QString &text)
{
    for (StationObserver *observer : m_observers)
        observer->slotStatus(slot, state, text);
}

void StationObservers::progress(int slot, int sent, int total)
{
    for (StationObserver *observer : m_observers)
        observer->progress(slot, sent, total);
}

void StationObservers::recorded(int slot, const records::BoardRecord &record, const StationCounts &counts)
{
    for (StationObserver *observer : m_observers)
        observer->recorded(slot, record, counts);
}

void StationObservers::warning(const QString &text)
{
    for (StationObserver *observer : m_observers)
        observer->warning(text);
}

void StationObservers::recordsWaiting(int count, const QString &reason)
{
    for (StationObserver *observer : m_observers)
        observer->recordsWaiting(count, reason);
}

void StationObservers::serials(int slot, std::optional<quint64> inProgress, std::optional<quint64> last)
{
    for (StationObserver *observer : m_observers)
        observer->serials(slot, inProgress, last);
}

void StationObservers::nextSerial(std::optional<quint64> number)
{
    for (StationObserver *observer : m_observers)
        observer->nextSerial(number);
}

void StationObservers::boardIdWanted(int slot)
{
    for (StationObserver *observer : m_observers)
        observer->boardIdWanted(slot);
}

void StationObservers::boardIdRefused(int slot, const QString &id, const QString &reason)
{
    for (StationObserver *observer : m_observers)
        observer->boardIdRefused(slot, id, reason);
}

void StationObservers::boardIdTaken(int slot, const QString &id, bool reflash)
{
    for (StationObserver *observer : m_observers)
        observer->boardIdTaken(slot, id, reflash);
}

void StationObservers::tick(const StationCounts &counts)
{
    for (StationObserver *observer : m_observers)
        observer->tick(counts);
}

} // namespace quobin::station
