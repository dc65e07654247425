#include "SerialSources.h"

#include "RecordStores.h"
#include "ServerSerialCounter.h"
#include "ServerTarget.h"
#include "SqliteSerialCounter.h"

#include <QFileInfo>

namespace quobin::records {

namespace {

// A station on a server holds this many numbers, and takes more when it is
// down to kServerLow: about kServerLow boards' worth of the server being away.
constexpr int kServerBlock = 20;
constexpr int kServerLow = 10;

} // namespace

SerialSource openSerialSource(const QString &target, const SeriesRule &rule, const QProcessEnvironment &env)
{
    if (ServerTarget::looksLikeServer(target))
        return {std::make_unique<ServerSerialCounter>(ServerTarget::parse(target), rule), {kServerBlock, kServerLow}};
    const QString path = target.isEmpty() ? defaultRecordsFile(env) : QFileInfo(target).absoluteFilePath();
    return {std::make_unique<SqliteSerialCounter>(path, rule), {1, 0}};
}

} // namespace quobin::records
