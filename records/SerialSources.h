#pragma once

#include "SerialPool.h"

#include <QProcessEnvironment>
#include <QString>

#include <memory>

namespace quobin::records {

// Where a station's serial numbers come from, and how many it takes at once.
struct SerialSource {
    std::unique_ptr<SerialCounter> counter;
    SerialPool::Sizes sizes;
};

// The counter of rule's series in the records TARGET a station writes (as
// openRecordStore() reads it): a SQLite file keeps its own counter and is
// asked for one number at a time, inside the station; a PostgreSQL server
// keeps the counter that the line's stations share, and a station reserves
// a block of numbers so that it goes on for a while when the server is away.
// Throws RecordStoreError when the counter cannot be used.
SerialSource openSerialSource(const QString &target, const SeriesRule &rule,
                              const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

} // namespace quobin::records
