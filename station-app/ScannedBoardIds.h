#pragma once

#include "BoardIdSource.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <mutex>

namespace quobin {

// Board IDs scanned at the station window, each given by the window to the
// slot it serves. An ID waits for its slot to ask; the window never ends
// them (the run ends by Stop). Thread-safe: the window gives from its
// thread, the slots take from theirs.
class ScannedBoardIds : public station::BoardIdSource {
public:
    void give(int slot, const QString &id);
    // Forgets every ID not yet taken (a new run).
    void clear();

    std::optional<QString> take(int slot, int msecs) override;
    void stopWaiting(int slot) override;
    bool closed(int) const override { return false; }

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    QMap<int, QStringList> m_given;
};

} // namespace quobin
