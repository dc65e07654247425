#pragma once

#include "LineDatabase.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QObject>
#include <QSqlDriver>
#include <QTimer>

#include <functional>
#include <optional>

namespace quobin::line {

// Keeps the line's figures (LineReport) up to date and says when they
// change. On PostgreSQL it listens on channel quobin_line, which every
// station's write notifies, and reads again at once; on SQLite, which
// notifies nobody, it looks at the file's change counter twice a second.
// The slots are read on every change; the records' figures (counts,
// failures, the chart) when a slot shows a board's end, at most once a
// second, and every five seconds of a line that changes.
// It reads again every half minute all the same (the last hour moves on),
// reconnects a lost server every two seconds, and while the records cannot
// be read the figures keep their last values with a "problem" saying so.
class LineFeed : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    LineFeed(LineDatabase &database, Clock clock, QObject *parent = nullptr);

    // Opens the database and reads the first figures.
    void start();
    // The newest figures, as /api/line serves them.
    QByteArray snapshot() const { return m_snapshot; }
    QDateTime now() const { return m_clock(); }
    // The records since then, for /api/records; throws
    // records::RecordStoreError when they cannot be read.
    QJsonArray records(const QDateTime &since);

signals:
    // The figures changed (or could not be read); snapshot is the new JSON.
    void changed(const QByteArray &snapshot);
    // Why the records cannot be read, for the log (without any password);
    // empty when they can again. Said once for each change.
    void trouble(const QString &problem);

private:
    void connectDatabase();
    void lost(const QString &problem);
    void refresh();
    void soon();
    void poll();
    void publish(QJsonObject figures);
    static QString endsOf(const QJsonArray &stations);

    // How often the records' figures are read again (ms).
    static constexpr qint64 kRecordsAtMost = 1000;
    static constexpr qint64 kRecordsAtLeast = 5000;

    LineDatabase &m_database;
    Clock m_clock;
    QTimer m_soon;        // coalesces a burst of notifications into one read
    QTimer m_reconnect;
    QTimer m_poll;        // SQLite's change counter; a server's liveness
    QTimer m_everyHalfMinute;
    QTimer m_recordsLater;   // the records' figures, when read too recently
    QElapsedTimer m_recordsRead;
    QString m_ends;
    QJsonObject m_records;
    std::optional<qint64> m_dataVersion;
    QJsonObject m_figures;
    QByteArray m_snapshot;
    QString m_lastProblem;
};

} // namespace quobin::line
