#include "MissingDriver.h"

namespace quobin::records {

QString missingPostgresDriver()
{
    return QStringLiteral("Qt SQL has no PostgreSQL driver: install libqt6sql6-psql");
}

} // namespace quobin::records
