#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace quobin::records {

// A station's row of the live view: its run, its job and when it was last
// heard from.
struct LiveStation {
    QString station;
    QString jobName;                 // empty for a run on a file
    std::optional<int> jobVersion;
    QString jobFile;                 // the image file's name, without its folder
    int slotCount = 0;
    QDateTime started;               // UTC
    QDateTime heartbeat;             // UTC
    bool stopped = false;            // the run has ended cleanly
};

// A slot's row of the live view, as its tile shows it.
struct LiveSlot {
    int index = 0;                   // 0-based, in the order given
    QString slot;                    // its name as the station shows it
    QString state;                   // no-adapter, waiting, flashing, passed, failed, ...
    QString text;                    // what the tile says in words
    std::optional<int> percent;      // 0..100 while flashing
    QString boardId;
    std::optional<quint64> serial;
    QDateTime changed;               // UTC
};

// What one write of the live view holds: the station's row, and the rows of
// the slots that changed since the last write that went through.
struct LiveSnapshot {
    LiveStation station;
    QList<LiveSlot> slotRows;
};

} // namespace quobin::records
