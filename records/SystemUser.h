#pragma once

#include <QString>

namespace quobin::records {

// The name of the operating system's user this process runs as, for a job
// approved or withdrawn in a SQLite file; "unknown user" when the system
// does not say.
QString systemUserName();

} // namespace quobin::records
