#include "MissingDriver.h"

namespace quobin::records {

// The Windows build is linked with a Qt of its own that has no PostgreSQL
// driver: there is nothing to install.
QString missingPostgresDriver()
{
    return QStringLiteral("this build of Quobin for Windows has no PostgreSQL driver yet: "
                          "keep the records in SQLite (leave out --records, or name a file)");
}

} // namespace quobin::records
