// The live view that quobin-cli station keeps in its records database, the
// built programs against fixtures played by the built vantor-sim: rows that
// follow every slot in a SQLite file, and on a real PostgreSQL server a
// notification within a second of a change, and a server stopped and
// started under a running station, which loses no record.

#include "HexRecord.h"
#include "PostgresServer.h"
#include "StationRig.h"
#include "TempFiles.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

using namespace quobin;
using namespace quobin::testing;

namespace {

// A slot's row as a reader sees it.
struct SlotRow {
    QString slot;
    QString state;
    QString text;
    QVariant percent;
    QString changed;
};

QList<SlotRow> slotRows(QSqlDatabase &db, const QString &station)
{
    QList<SlotRow> rows;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT slot, state, text, percent, changed FROM slot_live WHERE station = ?"
                             " ORDER BY slot_index"));
    q.addBindValue(station);
    if (!q.exec())
        return rows;
    while (q.next())
        rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3),
                     q.value(4).toString()});
    return rows;
}

int countOf(const QList<QJsonObject> &warnings, const QString &part)
{
    int count = 0;
    for (const QJsonObject &warning : warnings)
        if (warning.value(QStringLiteral("text")).toString().contains(part))
            ++count;
    return count;
}

} // namespace

class StationLiveTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;
    QString m_firmware = m_folder.write(QStringLiteral("image.hex"), sim::HexRecord::sampleImage(200));

    QProcessEnvironment environment(const QString &station) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.filePath(station));
        return env;
    }

private slots:
    // Two slots, the second's second board failing: while the run goes on
    // a reader of the file sees each slot flash with its percentage, pass,
    // and fail with the failure's reason; at the end the station is
    // stopped, and every record is in the file beside the rows.
    void aSqliteFileFollowsEverySlot()
    {
        const QString database = m_folder.filePath(QStringLiteral("live.sqlite"));
        // Paced as a real wire: a board takes long enough to be seen halfway.
        const QStringList options{QStringLiteral("--fixture"), QStringLiteral("1200"), QStringLiteral("--boards"),
                                  QStringLiteral("3"), QStringLiteral("--pace")};
        SimFixture a(m_folder.path(), QStringLiteral("a"), options);
        SimFixture b(m_folder.path(), QStringLiteral("b"),
                     options + QStringList{QStringLiteral("--fault"), QStringLiteral("flash:30@2")});
        QVERIFY(a.ready() && b.ready());

        StationRun station(environment(QStringLiteral("data-sqlite")));
        station.start({QStringLiteral("--slot"), a.link(), QStringLiteral("--slot"), b.link(), QStringLiteral("--json"),
                       QStringLiteral("--records"), database, QStringLiteral("--station"), QStringLiteral("bench-3"),
                       QStringLiteral("--count"), QStringLiteral("5"), m_firmware});

        QSet<QString> seen[2];
        QString failedText;
        bool percentBetween = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
            db.setDatabaseName(database);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            QVERIFY(waitFor([&] {
                // The station makes the file.
                if (!db.isOpen() && (!QFile::exists(database) || !db.open()))
                    return false;
                const QList<SlotRow> rows = slotRows(db, QStringLiteral("bench-3"));
                for (int i = 0; i < rows.size() && i < 2; ++i) {
                    seen[i].insert(rows[i].state);
                    const int percent = rows[i].percent.toInt();
                    if (rows[i].state == QLatin1String("flashing") && percent > 0 && percent < 100)
                        percentBetween = true;
                    if (rows[i].state == QLatin1String("failed"))
                        failedText = rows[i].text;
                }
                return !station.events(QStringLiteral("summary")).isEmpty();
            }, kBoardMsecs));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));
        QCOMPARE(station.finish(kSoonMsecs), 0);

        QVERIFY2(seen[0].contains(QStringLiteral("flashing")) && seen[0].contains(QStringLiteral("passed")),
                 qPrintable(QStringList(seen[0].cbegin(), seen[0].cend()).join(QLatin1Char(' '))));
        QVERIFY2(seen[1].contains(QStringLiteral("passed")) && seen[1].contains(QStringLiteral("failed")),
                 qPrintable(QStringList(seen[1].cbegin(), seen[1].cend()).join(QLatin1Char(' '))));
        QVERIFY(percentBetween);
        const QList<QJsonObject> records = station.records();
        QCOMPARE(records.size(), 6);
        // The failure's reason as the station told it.
        QString failure;
        for (const QJsonObject &status : station.events(QStringLiteral("status")))
            if (status.value(QStringLiteral("state")).toString() == QLatin1String("fail"))
                failure = status.value(QStringLiteral("text")).toString().remove(QRegularExpression(QStringLiteral("^FAIL ")));
        QVERIFY(!failure.isEmpty());
        QCOMPARE(failedText, failure);

        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("after"));
        db.setDatabaseName(database);
        QVERIFY(db.open());
        {
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("SELECT state, slots, job_file, job_name IS NULL, heartbeat >= started,"
                                          " (SELECT count(*) FROM board_records) FROM station_live"
                                          " WHERE station = 'bench-3'")) && q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("stopped"));
            QCOMPARE(q.value(1).toInt(), 2);
            QCOMPARE(q.value(2).toString(), QStringLiteral("image.hex"));
            QVERIFY(q.value(3).toBool());
            QVERIFY(q.value(4).toBool());
            QCOMPARE(q.value(5).toInt(), 6);
            const QList<SlotRow> rows = slotRows(db, QStringLiteral("bench-3"));
            QCOMPARE(rows.size(), 2);
            QSet<QString> recordSlots;
            for (const QJsonObject &record : records)
                recordSlots.insert(record.value(QStringLiteral("slot")).toString());
            QCOMPARE(recordSlots, (QSet<QString>{rows[0].slot, rows[1].slot}));
            QVERIFY(rows[0].slot != rows[1].slot);
            for (const SlotRow &row : rows)
                QCOMPARE(row.state, QStringLiteral("stopped"));
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("after"));
    }

    // A station on a line's server, its URL holding a password: a LISTEN
    // connection hears of a board within a second of its "^". The server
    // stops while the station runs and a board is flashed meanwhile: the
    // operator is told once that the live view is not written and once
    // that it is again, every record reaches the server, the rows follow
    // the slot again by themselves, and the password is never shown.
    void aLineServerHearsOfChangesAndOutlivesARestart()
    {
        PostgresServer server;
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY2(server.createDatabase(QStringLiteral("line")), qPrintable(server.problem()));
        const QString password = QStringLiteral("pw-live-4471");
        QVERIFY2(server.requirePassword(password), qPrintable(server.problem()));
        QString url = server.tcpUrl(QStringLiteral("line"));
        url.replace(QStringLiteral("//quobin@"), QStringLiteral("//quobin:%1@").arg(password));

        SimFixture fixture(m_folder.path(), QStringLiteral("pg"),
                           {QStringLiteral("--fixture"), QStringLiteral("100"), QStringLiteral("--boards"),
                            QStringLiteral("1")});
        QVERIFY(fixture.ready());
        StationRun station(environment(QStringLiteral("data-pg")));
        station.start({QStringLiteral("--slot"), fixture.link(), QStringLiteral("--json"), QStringLiteral("--records"),
                       url, QStringLiteral("--station"), QStringLiteral("line-1"), QStringLiteral("--count"),
                       QStringLiteral("4"), m_firmware});
        const auto serverRecords = [&] {
            QString out;
            server.psql(QStringLiteral("line"), QStringLiteral("SELECT count(*) FROM board_records"), &out);
            return out.toInt();
        };
        const auto slotState = [&] {
            QString out;
            server.psql(QStringLiteral("line"), QStringLiteral("SELECT state FROM slot_live WHERE station = 'line-1'"),
                        &out);
            return out;
        };
        QVERIFY2(waitFor([&] { return station.records().size() == 1; }, kBoardMsecs), station.errors().constData());
        QVERIFY2(waitFor([&] { return slotState() == QLatin1String("passed"); }, kSoonMsecs), qPrintable(slotState()));

        {
            QSqlDatabase listener = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("listener"));
            listener.setHostName(server.socketFolder());
            listener.setPort(server.port());
            listener.setUserName(QStringLiteral("quobin"));
            listener.setDatabaseName(QStringLiteral("line"));
            QVERIFY2(listener.open(), qPrintable(listener.lastError().text()));
            QVERIFY(listener.driver()->subscribeToNotification(QStringLiteral("quobin_line")));
            QElapsedTimer sinceReset;
            QString resetAt;
            qint64 heardAfter = -1;
            QStringList payloads;
            connect(listener.driver(), &QSqlDriver::notification, this,
                    [&](const QString &, QSqlDriver::NotificationSource, const QVariant &payload) {
                        payloads << payload.toString();
                        if (heardAfter >= 0 || resetAt.isEmpty())
                            return;
                        // The notification of the new board, not a heartbeat.
                        const QList<SlotRow> rows = slotRows(listener, QStringLiteral("line-1"));
                        if (!rows.isEmpty() && rows.first().changed > resetAt)
                            heardAfter = sinceReset.elapsed();
                    });
            QTest::qWait(300);
            resetAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
            sinceReset.start();
            fixture.reset();
            QVERIFY(waitFor([&] { return heardAfter >= 0 || sinceReset.elapsed() > 5000; }, kSoonMsecs));
            qInfo("a LISTEN connection heard of the board %lld ms after its reset", heardAfter);
            QVERIFY2(heardAfter >= 0 && heardAfter <= 1000, qPrintable(QString::number(heardAfter)));
            QVERIFY(payloads.contains(QStringLiteral("line-1")));
            listener.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("listener"));
        QVERIFY(waitFor([&] { return station.records().size() == 2; }, kBoardMsecs));

        // A board while the server is away: its record waits, the board does not.
        QVERIFY2(server.stop(), qPrintable(server.problem()));
        fixture.reset();
        QVERIFY(waitFor([&] { return station.records().size() == 3; }, kBoardMsecs));
        QVERIFY2(waitFor([&] { return countOf(station.events(QStringLiteral("warning")),
                                              QStringLiteral("live view is not written")) == 1; }, kSoonMsecs),
                 station.output().constData());
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY(waitFor([&] { return serverRecords() == 3; }, kBoardMsecs));
        QVERIFY2(waitFor([&] { return countOf(station.events(QStringLiteral("warning")),
                                              QStringLiteral("live view is written into")) == 1; }, kSoonMsecs),
                 station.output().constData());
        QVERIFY(waitFor([&] { return slotState() == QLatin1String("passed"); }, kSoonMsecs));
        fixture.reset();
        QCOMPARE(station.finish(kBoardMsecs), 0);
        QVERIFY(waitFor([&] { return serverRecords() == 4; }, kBoardMsecs));

        const QList<QJsonObject> warnings = station.events(QStringLiteral("warning"));
        QCOMPARE(countOf(warnings, QStringLiteral("live view is not written")), 1);
        QCOMPARE(countOf(warnings, QStringLiteral("live view is written into")), 1);
        QString out;
        QVERIFY(server.psql(QStringLiteral("line"), QStringLiteral("SELECT state || ' ' || slots FROM station_live"), &out));
        QCOMPARE(out, QStringLiteral("stopped 1"));
        QCOMPARE(slotState(), QStringLiteral("stopped"));
        QVERIFY(!station.output().contains(password.toUtf8()));
        QVERIFY(!station.errors().contains(password.toUtf8()));
    }
};

QTEST_GUILESS_MAIN(StationLiveTest)
#include "tst_station_live.moc"
