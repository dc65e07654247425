#include "LineReport.h"

#include "RecordJson.h"
#include "RecordSchema.h"
#include "RecordStore.h"

#include <QHash>
#include <QJsonDocument>
#include <QMap>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cmath>

namespace quobin::line {

namespace {

using records::RecordStoreError;
using records::schema::timeText;

struct Tally {
    int passed = 0;
    int failed = 0;
};

// A pass, and an end that is neither a pass nor a cancel (the records'
// own words, records/BoardRecord.h).
const char kPassed[] = "SUM(CASE WHEN result = 'success' THEN 1 ELSE 0 END)";
const char kFailed[] = "SUM(CASE WHEN result <> 'success' AND result <> 'cancelled' THEN 1 ELSE 0 END)";

QDateTime timeFrom(const QVariant &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toUTC();
}

QJsonValue textOrNull(const QVariant &value)
{
    return value.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(value.toString());
}

QJsonValue intOrNull(const QVariant &value)
{
    return value.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(value.toInt());
}

QJsonValue serialOf(const QVariant &value)
{
    if (value.isNull())
        return QJsonValue::Null;
    return records::serialJson(value.toULongLong());
}

double rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

// boards, passed, failed, first-pass yield (passes of the boards that
// ended, null without any) and boards per hour over hours.
QJsonObject figures(const Tally &tally, double hours)
{
    const int boards = tally.passed + tally.failed;
    return QJsonObject{
        {QStringLiteral("boards"), boards},
        {QStringLiteral("passed"), tally.passed},
        {QStringLiteral("failed"), tally.failed},
        {QStringLiteral("firstPassYield"),
         boards == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(rounded(double(tally.passed) / boards, 4))},
        {QStringLiteral("boardsPerHour"), rounded(boards / hours, 1)},
    };
}

// The failure in the words its slot's tile gave it: the record's message,
// else the line whose question was answered No, else the result's name.
QString failureReason(const QString &message, const QString &questions, const QString &result)
{
    if (!message.isEmpty())
        return message;
    for (const QJsonValue &value : QJsonDocument::fromJson(questions.toUtf8()).array()) {
        const QJsonObject question = value.toObject();
        if (!question.value(QLatin1String("yes")).toBool())
            return QStringLiteral("line %1: %2, answered No")
                .arg(question.value(QLatin1String("line")).toInt())
                .arg(question.value(QLatin1String("reason")).toString());
    }
    return result;
}

} // namespace

namespace {

class Statement {
public:
    Statement(QSqlDatabase &db, const QString &where, const QString &sql, const QVariantList &values = {})
        : m_query(db)
    {
        m_query.setForwardOnly(true);
        bool ok = m_query.prepare(sql);
        for (const QVariant &value : values)
            m_query.addBindValue(value);
        ok = ok && m_query.exec();
        if (!ok)
            throw RecordStoreError(QStringLiteral("Cannot read the line from %1: %2")
                                       .arg(where, records::schema::reasonOf(m_query.lastError())));
    }
    bool next() { return m_query.next(); }
    QVariant value(int column) const { return m_query.value(column); }

private:
    QSqlQuery m_query;
};

} // namespace

bool LineReport::hasTable(const QString &table)
{
    const bool server = m_db.driverName() == QLatin1String("QPSQL");
    Statement query(m_db, m_where,
                    server ? QStringLiteral("SELECT count(*) FROM pg_catalog.pg_tables WHERE tablename = ?"
                                            " AND schemaname = ANY (current_schemas(false))")
                           : QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?"),
                    {table});
    return query.next() && query.value(0).toInt() > 0;
}

// work() in one read transaction, so that what it reads is of one moment.
template<typename Work>
auto LineReport::inTransaction(Work &&work)
{
    const bool inTransaction = m_db.transaction();
    try {
        auto result = work();
        if (inTransaction)
            m_db.commit();
        return result;
    } catch (...) {
        if (inTransaction)
            m_db.rollback();
        throw;
    }
}

QJsonObject LineReport::line(const QDateTime &now, const QDateTime &shiftStart)
{
    const QJsonArray live = liveStations(now);
    return compose(live, recordFigures(now, shiftStart), now, shiftStart);
}

QJsonArray LineReport::liveStations(const QDateTime &now)
{
    return inTransaction([&] { return stations(now); });
}

QJsonObject LineReport::recordFigures(const QDateTime &now, const QDateTime &shiftStart)
{
    return inTransaction([&] {
        if (!hasTable(QStringLiteral("board_records")))
            throw RecordStoreError(QStringLiteral("%1 holds no Quobin records").arg(m_where));
        return QJsonObject{
            {QStringLiteral("lastHour"), counts(now.addSecs(-3600), now)},
            {QStringLiteral("shift"), counts(shiftStart, now)},
            {QStringLiteral("failures"), failures(now)},
            {QStringLiteral("chart"), chart(shiftStart, now)},
        };
    });
}

QJsonObject LineReport::compose(QJsonArray stations, const QJsonObject &records, const QDateTime &now,
                                const QDateTime &shiftStart)
{
    const QJsonObject hour = records[QLatin1String("lastHour")].toObject();
    const QJsonObject shift = records[QLatin1String("shift")].toObject();
    // Stations that publish nothing live (an older station, or none
    // publishing yet) but have records in the shift.
    QStringList named;
    for (const QJsonValue &station : std::as_const(stations))
        named << station[QLatin1String("station")].toString();
    for (auto it = shift.begin(); it != shift.end(); ++it) {
        if (named.contains(it.key()))
            continue;
        stations.append(QJsonObject{{QStringLiteral("station"), it.key()},
                                    {QStringLiteral("live"), false},
                                    {QStringLiteral("slots"), QJsonArray()}});
    }
    const double shiftHours = std::max(shiftStart.secsTo(now) / 3600.0, 1.0 / 60);
    int notHeard = 0;
    Tally hourTotal, shiftTotal;
    for (qsizetype i = 0; i < stations.size(); ++i) {
        QJsonObject station = stations.at(i).toObject();
        const QString name = station[QLatin1String("station")].toString();
        const QJsonObject h = hour[name].toObject(), s = shift[name].toObject();
        const Tally inHour{h[QLatin1String("passed")].toInt(), h[QLatin1String("failed")].toInt()};
        const Tally inShift{s[QLatin1String("passed")].toInt(), s[QLatin1String("failed")].toInt()};
        hourTotal.passed += inHour.passed;
        hourTotal.failed += inHour.failed;
        shiftTotal.passed += inShift.passed;
        shiftTotal.failed += inShift.failed;
        station.insert(QStringLiteral("lastHour"), figures(inHour, 1.0));
        station.insert(QStringLiteral("shift"), figures(inShift, shiftHours));
        if (!station[QLatin1String("heard")].toBool(true))
            ++notHeard;
        stations[i] = station;
    }
    return QJsonObject{
        {QStringLiteral("now"), timeText(now)},
        {QStringLiteral("hourStart"), timeText(now.addSecs(-3600))},
        {QStringLiteral("shiftStart"), timeText(shiftStart)},
        {QStringLiteral("staleSeconds"), kStaleSeconds},
        {QStringLiteral("stations"), stations},
        {QStringLiteral("totals"),
         QJsonObject{{QStringLiteral("stations"), int(stations.size())},
                     {QStringLiteral("notHeard"), notHeard},
                     {QStringLiteral("lastHour"), figures(hourTotal, 1.0)},
                     {QStringLiteral("shift"), figures(shiftTotal, shiftHours)}}},
        {QStringLiteral("failures"), records[QLatin1String("failures")].toArray()},
        {QStringLiteral("chart"), QJsonObject{{QStringLiteral("bucketMinutes"), 10},
                                              {QStringLiteral("buckets"), records[QLatin1String("chart")].toArray()}}},
    };
}

QJsonArray LineReport::stations(const QDateTime &now)
{
    QJsonArray stations;
    if (!hasTable(QStringLiteral("station_live")) || !hasTable(QStringLiteral("slot_live")))
        return stations;
    QMap<QString, QJsonArray> slotsOf;
    Statement slotRows(m_db, m_where,
                    QStringLiteral("SELECT station, slot_index, slot, state, text, percent, board_id, serial, changed"
                                   " FROM slot_live ORDER BY station, slot_index"));
    while (slotRows.next())
        slotsOf[slotRows.value(0).toString()].append(QJsonObject{
            {QStringLiteral("index"), slotRows.value(1).toInt()},
            {QStringLiteral("slot"), slotRows.value(2).toString()},
            {QStringLiteral("state"), slotRows.value(3).toString()},
            {QStringLiteral("text"), slotRows.value(4).toString()},
            {QStringLiteral("percent"), intOrNull(slotRows.value(5))},
            {QStringLiteral("boardId"), slotRows.value(6).toString()},
            {QStringLiteral("serial"), serialOf(slotRows.value(7))},
            {QStringLiteral("changed"), slotRows.value(8).toString()},
        });
    Statement live(m_db, m_where,
                   QStringLiteral("SELECT station, job_name, job_version, job_file, slots, started, heartbeat, state"
                                  " FROM station_live ORDER BY station"));
    while (live.next()) {
        const QString name = live.value(0).toString();
        const QDateTime heartbeat = timeFrom(live.value(6));
        const QString state = live.value(7).toString();
        // A station that ended cleanly said so; one that went quiet is not
        // heard from.
        const bool heard = state == QLatin1String("stopped")
            || (heartbeat.isValid() && heartbeat.secsTo(now) <= kStaleSeconds);
        stations.append(QJsonObject{
            {QStringLiteral("station"), name},
            {QStringLiteral("live"), true},
            {QStringLiteral("job"), textOrNull(live.value(1))},
            {QStringLiteral("jobVersion"), intOrNull(live.value(2))},
            {QStringLiteral("jobFile"), live.value(3).toString()},
            {QStringLiteral("slotCount"), live.value(4).toInt()},
            {QStringLiteral("started"), live.value(5).toString()},
            {QStringLiteral("heartbeat"), live.value(6).toString()},
            {QStringLiteral("state"), state},
            {QStringLiteral("heard"), heard},
            {QStringLiteral("slots"), slotsOf.value(name)},
        });
    }
    return stations;
}

// Per station: {"passed", "failed"} of the boards that ended since then.
// (started is indexed; a board ends within minutes of its start.)
QJsonObject LineReport::counts(const QDateTime &since, const QDateTime &now)
{
    Q_UNUSED(now);
    QJsonObject byStation;
    Statement query(m_db, m_where,
                    QStringLiteral("SELECT station, %1, %2 FROM board_records WHERE started >= ? AND ended >= ?"
                                   " GROUP BY station")
                        .arg(QLatin1String(kPassed), QLatin1String(kFailed)),
                    {timeText(since.addSecs(-3600)), timeText(since)});
    while (query.next())
        byStation.insert(query.value(0).toString(),
                         QJsonObject{{QStringLiteral("passed"), query.value(1).toInt()},
                                     {QStringLiteral("failed"), query.value(2).toInt()}});
    return byStation;
}

QJsonArray LineReport::failures(const QDateTime &now)
{
    QJsonArray list;
    Statement query(m_db, m_where,
                    QStringLiteral("SELECT ended, station, slot, board_id, serial, result, message, job_name,"
                                   " job_version, questions FROM board_records WHERE started >= ? AND result <> 'success'"
                                   " AND result <> 'cancelled' ORDER BY ended DESC, id LIMIT %1")
                        .arg(kFailuresShown),
                    {timeText(now.addDays(-1))});
    while (query.next())
        list.append(QJsonObject{
            {QStringLiteral("ended"), query.value(0).toString()},
            {QStringLiteral("station"), query.value(1).toString()},
            {QStringLiteral("slot"), query.value(2).toString()},
            {QStringLiteral("boardId"), query.value(3).toString().isEmpty() ? QJsonValue(QJsonValue::Null)
                                                                          : QJsonValue(query.value(3).toString())},
            {QStringLiteral("serial"), serialOf(query.value(4))},
            {QStringLiteral("result"), query.value(5).toString()},
            {QStringLiteral("message"), query.value(6).toString()},
            {QStringLiteral("job"), textOrNull(query.value(7))},
            {QStringLiteral("jobVersion"), intOrNull(query.value(8))},
            {QStringLiteral("reason"), failureReason(query.value(6).toString(), query.value(9).toString(),
                                                     query.value(5).toString())},
        });
    return list;
}

// Every ten minutes of the shift so far, the boards that ended in them:
// the first 15 characters of a time ("2026-03-01T08:1") name its ten
// minutes, in both databases' SQL.
QJsonArray LineReport::chart(const QDateTime &shiftStart, const QDateTime &now)
{
    QHash<QString, Tally> found;
    Statement query(m_db, m_where,
                    QStringLiteral("SELECT substr(ended, 1, 15), %1, %2 FROM board_records WHERE started >= ?"
                                   " AND ended >= ? GROUP BY substr(ended, 1, 15)")
                        .arg(QLatin1String(kPassed), QLatin1String(kFailed)),
                    {timeText(shiftStart.addSecs(-3600)), timeText(shiftStart)});
    while (query.next())
        found.insert(query.value(0).toString(), {query.value(1).toInt(), query.value(2).toInt()});
    QJsonArray buckets;
    QDateTime bucket = shiftStart;
    bucket.setTime(QTime(bucket.time().hour(), bucket.time().minute() / 10 * 10));
    for (; bucket <= now; bucket = bucket.addSecs(600)) {
        const QString start = timeText(bucket);
        const Tally tally = found.value(start.left(15));
        buckets.append(QJsonObject{{QStringLiteral("start"), start},
                                   {QStringLiteral("passed"), tally.passed},
                                   {QStringLiteral("failed"), tally.failed}});
    }
    return buckets;
}

QJsonArray LineReport::records(const QDateTime &since)
{
    const int found = records::schema::requireRecords(m_db, m_where);
    QJsonArray list;
    for (const records::BoardRecord &record : records::schema::select(m_db, since, m_where, found)) {
        QJsonObject object = records::recordJson(record);
        object.insert(QStringLiteral("schema"), records::kJsonSchema);
        list.append(object);
    }
    return list;
}

} // namespace quobin::line
