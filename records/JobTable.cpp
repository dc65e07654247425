#include "JobTable.h"

#include "RecordSchema.h"
#include "RecordStore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace quobin::records::jobs {

namespace {

const char kColumns[] = "name, version, file_name, image_sha256, image_lines, image_size, serial_format, on_error,"
                        " approved_by, approved, withdrawn_by, withdrawn, board_id_rule, reflash";

// PostgreSQL's code for "permission denied".
const char kNoRight[] = "42501";

[[noreturn]] void fail(const QString &what, const QString &where, const QSqlError &error, const QString &right = {})
{
    QString text = QStringLiteral("%1 %2: %3").arg(what, where, schema::reasonOf(error));
    if (!right.isEmpty() && error.nativeErrorCode() == QLatin1String(kNoRight))
        text += QStringLiteral(". ") + right;
    throw RecordStoreError(text);
}

QSqlQuery run(QSqlDatabase &db, const QString &sql, const QVariantList &values, const QString &what,
              const QString &where, const QString &right = {})
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        fail(what, where, query.lastError(), right);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        fail(what, where, query.lastError(), right);
    return query;
}

QDateTime timeFrom(const QVariant &value)
{
    if (value.isNull())
        return {};
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

ApprovedJob jobAt(const QSqlQuery &q)
{
    ApprovedJob job;
    job.name = q.value(0).toString();
    job.version = q.value(1).toInt();
    job.fileName = q.value(2).toString();
    job.sha256 = q.value(3).toString();
    job.lines = q.value(4).toInt();
    job.size = q.value(5).toLongLong();
    job.serialFormat = q.value(6).toString();
    job.onError = q.value(7).toString();
    job.approvedBy = q.value(8).toString();
    job.approved = timeFrom(q.value(9));
    job.withdrawnBy = q.value(10).toString();
    job.withdrawn = timeFrom(q.value(11));
    job.boardIdRule = q.value(12).toString();
    job.reflashAllowed = q.value(13).toInt() != 0;
    return job;
}

QString text(const QString &value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

} // namespace

ApprovedJob approve(QSqlDatabase &db, ApprovedJob job, const QString &who, const QString &where)
{
    const QString what = QStringLiteral("Cannot approve the job %1 in").arg(job.name);
    const QString right = QStringLiteral("Approving a job needs the rights SELECT and INSERT on the table jobs, which"
                                         " the line's supervisors' role has: approve as a supervisor");
    // Two supervisors approving the same name at once both read the same
    // highest version; the second insert then collides on the key and goes
    // again with the next number.
    for (int attempt = 1;; ++attempt) {
        if (!db.transaction())
            fail(what, where, db.lastError());
        try {
            QSqlQuery highest = run(db, QStringLiteral("SELECT MAX(version) FROM jobs WHERE name = ?"), {job.name},
                                    what, where, right);
            job.version = (highest.next() && !highest.value(0).isNull() ? highest.value(0).toInt() : 0) + 1;
            highest.finish();
            job.approvedBy = who;
            job.approved = QDateTime::currentDateTimeUtc();
            job.withdrawnBy.clear();
            job.withdrawn = QDateTime();
            QSqlQuery insert(db);
            if (!insert.prepare(QStringLiteral("INSERT INTO jobs (name, version, file_name, image, image_sha256,"
                                               " image_lines, image_size, serial_format, on_error, approved_by, approved,"
                                               " board_id_rule, reflash)"
                                               " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")))
                fail(what, where, insert.lastError(), right);
            for (const QVariant &value : QVariantList{job.name, job.version, text(job.fileName), job.image, job.sha256,
                                                      job.lines, job.size, text(job.serialFormat), text(job.onError),
                                                      who, schema::timeText(job.approved), text(job.boardIdRule),
                                                      int(job.reflashAllowed)})
                insert.addBindValue(value);
            if (!insert.exec()) {
                const QSqlError error = insert.lastError();
                // PostgreSQL's unique violation, SQLite's primary key one.
                static const QStringList collisions{QStringLiteral("23505"), QStringLiteral("1555"),
                                                    QStringLiteral("2067"), QStringLiteral("19")};
                if (attempt < 3 && collisions.contains(error.nativeErrorCode())) {
                    db.rollback();
                    continue;
                }
                fail(what, where, error, right); // rolled back below
            }
            if (!db.commit())
                fail(what, where, db.lastError());
            return job;
        } catch (const RecordStoreError &) {
            db.rollback();
            throw;
        }
    }
}

QList<ApprovedJob> current(QSqlDatabase &db, const QString &where)
{
    QSqlQuery query = run(db, QStringLiteral("SELECT %1 FROM jobs j WHERE version = (SELECT MAX(version) FROM jobs"
                                             " WHERE name = j.name) ORDER BY name")
                                  .arg(QLatin1String(kColumns)),
                          {}, QStringLiteral("Cannot read the jobs from"), where);
    QList<ApprovedJob> found;
    while (query.next())
        found.append(jobAt(query));
    return found;
}

QList<ApprovedJob> versions(QSqlDatabase &db, const QString &name, const QString &where)
{
    QSqlQuery query = run(db, QStringLiteral("SELECT %1 FROM jobs WHERE name = ? ORDER BY version DESC")
                                  .arg(QLatin1String(kColumns)),
                          {name}, QStringLiteral("Cannot read the jobs from"), where);
    QList<ApprovedJob> found;
    while (query.next())
        found.append(jobAt(query));
    return found;
}

std::optional<ApprovedJob> currentOf(QSqlDatabase &db, const QString &name, bool withImage, const QString &where)
{
    QSqlQuery query = run(db, QStringLiteral("SELECT %1%2 FROM jobs WHERE name = ? ORDER BY version DESC LIMIT 1")
                                  .arg(QLatin1String(kColumns), withImage ? QStringLiteral(", image") : QString()),
                          {name}, QStringLiteral("Cannot read the job %1 from").arg(name), where);
    if (!query.next())
        return std::nullopt;
    ApprovedJob job = jobAt(query);
    if (withImage)
        job.image = query.value(14).toByteArray();
    return job;
}

ApprovedJob withdraw(QSqlDatabase &db, const QString &name, const QString &who, const QString &where)
{
    const QString what = QStringLiteral("Cannot withdraw the job %1 in").arg(name);
    const QString right = QStringLiteral("Withdrawing a job needs the rights SELECT on the table jobs and UPDATE of its"
                                         " columns withdrawn_by and withdrawn, which the line's supervisors' role has:"
                                         " withdraw as a supervisor");
    std::optional<ApprovedJob> job = currentOf(db, name, false, where);
    if (!job)
        throw RecordStoreError(QStringLiteral("%1 %2: there is no job of that name").arg(what, where));
    if (job->isWithdrawn())
        throw RecordStoreError(QStringLiteral("%1 %2: version %3 was withdrawn already, by %4 at %5")
                                   .arg(what, where).arg(job->version)
                                   .arg(job->withdrawnBy, schema::timeText(job->withdrawn)));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    run(db, QStringLiteral("UPDATE jobs SET withdrawn_by = ?, withdrawn = ? WHERE name = ? AND withdrawn IS NULL"),
        {who, schema::timeText(now), name}, what, where, right);
    job->withdrawnBy = who;
    job->withdrawn = now;
    return *job;
}

} // namespace quobin::records::jobs
