#pragma once

#include "BoardIdSource.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <mutex>

namespace quobin::cli {

// Board IDs as lines of text, for a station's slots: "SLOT ID" gives the ID
// to that slot (its number 1..N in the order of --slot, its name as the
// station shows it, "Com 3" or "com3", or its path as given), "ID" alone
// goes to the lowest-numbered slot that waits for one (or, when none waits,
// to the first that asks). An ID has no spaces. An ID for a slot that is
// busy waits until that slot asks. Thread-safe: lines come from the reader,
// slots take from their own threads.
class BoardIdLines : public station::BoardIdSource {
public:
    struct SlotName {
        QString label;
        QString path;
    };
    // refused(line, reason): a line that names no slot.
    BoardIdLines(QList<SlotName> slotNames, std::function<void(const QString &, const QString &)> refused);

    // One line as typed or scanned, without its end.
    void feed(const QString &line);
    // No line comes any more.
    void end();

    std::optional<QString> take(int slot, int msecs) override;
    void stopWaiting(int slot) override;
    bool closed(int slot) const override;

private:
    // The slot a line's first part names, -1 for none.
    int slotNamed(const QString &text) const;
    // Gives out the IDs that no slot was named for, lowest waiting slot first.
    void route();

    const QList<SlotName> m_slots;
    const std::function<void(const QString &, const QString &)> m_refused;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    QMap<int, QStringList> m_forSlot;
    QStringList m_forAny;
    QSet<int> m_waiting;
    bool m_ended = false;
};

} // namespace quobin::cli
