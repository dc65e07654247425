#include "LineFeed.h"

#include "LineReport.h"
#include "RecordSchema.h"
#include "RecordStore.h"
#include "ShiftWindow.h"

#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>

namespace quobin::line {

namespace {

const char kChannel[] = "quobin_line";

} // namespace

LineFeed::LineFeed(LineDatabase &database, Clock clock, QObject *parent)
    : QObject(parent), m_database(database), m_clock(std::move(clock))
{
    m_soon.setSingleShot(true);
    m_soon.setInterval(100);
    connect(&m_soon, &QTimer::timeout, this, &LineFeed::refresh);
    m_reconnect.setSingleShot(true);
    m_reconnect.setInterval(2000);
    connect(&m_reconnect, &QTimer::timeout, this, &LineFeed::connectDatabase);
    // A server is asked whether it is still there every five seconds (its
    // notifications say nothing when it is gone); a file's counter is read
    // twice a second.
    m_poll.setInterval(m_database.isServer() ? 5000 : 500);
    connect(&m_poll, &QTimer::timeout, this, &LineFeed::poll);
    m_recordsLater.setSingleShot(true);
    connect(&m_recordsLater, &QTimer::timeout, this, &LineFeed::soon);
    m_everyHalfMinute.setInterval(30000);
    connect(&m_everyHalfMinute, &QTimer::timeout, this, &LineFeed::soon);
    m_figures = QJsonObject{{QStringLiteral("stations"), QJsonArray()}};
}

void LineFeed::start()
{
    m_everyHalfMinute.start();
    m_poll.start();
    connectDatabase();
}

void LineFeed::connectDatabase()
{
    if (!m_database.open()) {
        lost(m_database.problem());
        return;
    }
    if (m_database.isServer()) {
        QSqlDriver *driver = m_database.database().driver();
        disconnect(driver, &QSqlDriver::notification, this, nullptr);
        if (!driver->subscribeToNotification(QLatin1String(kChannel))) {
            lost(QStringLiteral("The records server refused to notify changes"));
            return;
        }
        connect(driver, &QSqlDriver::notification, this, [this] { soon(); });
    } else {
        m_dataVersion = m_database.dataVersion();
    }
    refresh();
}

void LineFeed::lost(const QString &problem)
{
    m_database.setProblem(problem);
    m_database.close();
    publish(m_figures);
    if (!m_reconnect.isActive())
        m_reconnect.start();
}

void LineFeed::soon()
{
    if (!m_soon.isActive())
        m_soon.start();
}

void LineFeed::poll()
{
    if (m_reconnect.isActive())
        return;
    if (m_database.isServer()) {
        // The driver counts a connection that the server ended as closed.
        if (!m_database.isOpen()) {
            lost(QStringLiteral("Lost the records server"));
            return;
        }
        QSqlQuery alive(m_database.database());
        if (!alive.exec(QStringLiteral("SELECT 1")))
            lost(QStringLiteral("Lost the records server: %1").arg(records::schema::reasonOf(alive.lastError())));
        return;
    }
    if (!m_database.isOpen())
        return;
    const std::optional<qint64> version = m_database.dataVersion();
    if (!version) {
        lost(QStringLiteral("Cannot read the records database %1").arg(m_database.describe()));
        return;
    }
    if (version != m_dataVersion) {
        m_dataVersion = version;
        soon();
    }
}

// Every slot that shows a board's end, with when it changed: a new one
// means a new record.
QString LineFeed::endsOf(const QJsonArray &stations)
{
    QString ends;
    for (const QJsonValue &station : stations)
        for (const QJsonValue &slot : station[QLatin1String("slots")].toArray()) {
            const QString state = slot[QLatin1String("state")].toString();
            if (state == QLatin1String("passed") || state == QLatin1String("failed")
                || state == QLatin1String("unsaved"))
                ends += station[QLatin1String("station")].toString() + slot[QLatin1String("slot")].toString()
                    + slot[QLatin1String("changed")].toString() + QLatin1Char('\n');
        }
    return ends;
}

void LineFeed::refresh()
{
    if (!m_database.isOpen())
        return;
    const QDateTime now = m_clock();
    const QDateTime shiftStart = ShiftWindow::containing(now).start;
    try {
        LineReport report(m_database.database(), m_database.isServer() ? QStringLiteral("the records server") : m_database.describe());
        const QJsonArray stations = report.liveStations(now);
        // The slots go to the page at once; the records' figures, the
        // costly read, when a board has ended (on a file, whenever it
        // changed), at most once a second, and at least every five seconds
        // of changes: a record that waited in a station's spool reaches the
        // server after its slot has moved on.
        const QString ends = endsOf(stations);
        const bool stale = !m_recordsRead.isValid() || m_recordsRead.hasExpired(kRecordsAtLeast)
            || !m_database.isServer() || ends != m_ends;
        if (stale && (!m_recordsRead.isValid() || m_recordsRead.hasExpired(kRecordsAtMost))) {
            m_records = report.recordFigures(now, shiftStart);
            m_recordsRead.start();
            m_ends = ends;
        } else if (stale && !m_recordsLater.isActive()) {
            m_recordsLater.start(int(std::max<qint64>(1, kRecordsAtMost - m_recordsRead.elapsed())));
        }
        m_database.setProblem({});
        publish(LineReport::compose(stations, m_records, now, shiftStart));
    } catch (const records::RecordStoreError &error) {
        // A server that went away fails its reads: try it again from the
        // start. A file without records yet is read again when it changes.
        m_recordsRead.invalidate();
        if (m_database.isServer())
            lost(error.reason());
        else {
            m_database.setProblem(error.reason());
            publish(m_figures);
        }
    }
}

void LineFeed::publish(QJsonObject figures)
{
    figures.remove(QStringLiteral("problem"));
    m_figures = figures;
    // The page says only that the records cannot be read: the reason names
    // the server, which is the log's to say (trouble()).
    if (!m_database.problem().isEmpty())
        figures.insert(QStringLiteral("problem"), QStringLiteral("The records cannot be read at the moment"));
    if (m_database.problem() != m_lastProblem) {
        m_lastProblem = m_database.problem();
        emit trouble(m_lastProblem);
    }
    const QByteArray snapshot = QJsonDocument(figures).toJson(QJsonDocument::Compact);
    if (snapshot == m_snapshot)
        return;
    m_snapshot = snapshot;
    emit changed(m_snapshot);
}

QJsonArray LineFeed::records(const QDateTime &since)
{
    if (!m_database.open())
        throw records::RecordStoreError(m_database.problem());
    LineReport report(m_database.database(), m_database.isServer() ? QStringLiteral("the records server") : m_database.describe());
    return report.records(since);
}

} // namespace quobin::line
