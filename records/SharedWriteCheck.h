#pragma once

#include <QString>

namespace quobin::records {

// Why a records file that a station writes is not safe: the file, or its
// folder, may be written by every user of the machine. Another user could
// then change or delete the records, or plant the database's -journal,
// -wal or -shm file beside it before the station opens it (which is why a
// world-writable folder such as /tmp is refused even with its sticky bit).
// Empty when neither is; a file that is not there yet is judged by its
// folder alone. The answer depends on the system's idea of file owners: the
// build picks the implementation.
QString writableByOthers(const QString &path);

} // namespace quobin::records
