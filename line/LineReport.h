#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QSqlDatabase>

namespace quobin::line {

// The line's figures as JSON (the page's and /api/line's), read in
// read-only transactions: every station's live state and slots (from
// station_live and slot_live), its passed, failed, first-pass yield and
// boards per hour over the last hour and the shift (from board_records),
// the line's totals, the last failures, and the boards of each ten minutes
// of the shift. A database whose stations publish no live state yet still
// shows every station that has records in the shift, without slots.
// Throws records::RecordStoreError when the database cannot be read.
class LineReport {
public:
    // A station not heard from for this long is shown as such.
    static constexpr int kStaleSeconds = 15;
    // The failures listed: the newest of the last day, at most this many.
    static constexpr int kFailuresShown = 20;

    LineReport(QSqlDatabase &db, const QString &where) : m_db(db), m_where(where) {}

    QJsonObject line(const QDateTime &now, const QDateTime &shiftStart);
    // line() in its two reads: the stations' live rows, which change many
    // times a second, and the figures of the records, which a reader may
    // read less often; compose() puts them together.
    QJsonArray liveStations(const QDateTime &now);
    QJsonObject recordFigures(const QDateTime &now, const QDateTime &shiftStart);
    static QJsonObject compose(QJsonArray stations, const QJsonObject &records, const QDateTime &now,
                               const QDateTime &shiftStart);
    // The records that started at or after since, oldest first, as
    // `quobin-cli records --json` writes them.
    QJsonArray records(const QDateTime &since);

private:
    template<typename Work>
    auto inTransaction(Work &&work);
    bool hasTable(const QString &table);
    QJsonArray stations(const QDateTime &now);
    QJsonObject counts(const QDateTime &since, const QDateTime &now);
    QJsonArray failures(const QDateTime &now);
    QJsonArray chart(const QDateTime &shiftStart, const QDateTime &now);

    QSqlDatabase &m_db;
    QString m_where;
};

} // namespace quobin::line
