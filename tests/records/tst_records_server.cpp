// The records store on a real PostgreSQL server that the test starts and
// stops: records go straight to the server while it answers, wait in the
// local spool while it is away, and arrive exactly once, in order, when it
// is back, in this run or the next.
#include "PostgresServer.h"
#include "RecordSamples.h"
#include "RecordStores.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <thread>

using namespace quobin::records;
using quobin::testing::sampleRecord;

namespace {

QStringList ids(const QList<BoardRecord> &records)
{
    QStringList list;
    for (const BoardRecord &record : records)
        list << record.id.toString(QUuid::WithoutBraces);
    return list;
}

} // namespace

class TestRecordsServer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    std::unique_ptr<quobin::testing::PostgresServer> m_server;
    int m_databases = 0;

    // A database of the case's own, and a local data folder (the spool) of
    // its own, as on a station PC.
    QString newDatabase()
    {
        const QString name = QStringLiteral("line%1").arg(++m_databases);
        if (!m_server->createDatabase(name))
            qWarning("%s", qPrintable(m_server->problem()));
        return name;
    }
    QProcessEnvironment stationEnvironment(const QString &name)
    {
        QProcessEnvironment env;
        const QString data = m_folder.filePath(QStringLiteral("station-") + name);
        QDir().mkpath(data);
        env.insert(QStringLiteral("XDG_DATA_HOME"), data);
        return env;
    }
    QStringList serverIds(const QString &database)
    {
        QString output;
        if (!m_server->psql(database, QStringLiteral("SELECT id FROM board_records ORDER BY started, ended, id"), &output))
            return {QStringLiteral("psql failed: ") + m_server->problem()};
        return output.isEmpty() ? QStringList() : output.split(QLatin1Char('\n'));
    }
    bool waitUntilSent(const RecordStore &store, int seconds)
    {
        QElapsedTimer timer;
        timer.start();
        while (store.waitingForServer() > 0 && timer.elapsed() < seconds * 1000)
            QTest::qWait(100);
        return store.waitingForServer() == 0;
    }
    void ensureRunning()
    {
        // A case that failed halfway may have left the server stopped.
        QString output;
        if (!m_server->psql(QStringLiteral("postgres"), QStringLiteral("SELECT 1"), &output))
            QVERIFY2(m_server->start(), qPrintable(m_server->problem()));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        m_server = std::make_unique<quobin::testing::PostgresServer>();
        QVERIFY2(m_server->start(), qPrintable(m_server->problem()));
    }
    void cleanupTestCase()
    {
        m_server.reset();
    }

    void recordsSpoolWhileTheServerIsAwayAndArriveOnceWhenItIsBack()
    {
        ensureRunning();
        const QString database = newDatabase();
        const auto store = openRecordStore(m_server->socketUrl(database), stationEnvironment(database));
        QList<BoardRecord> committed;
        for (int i = 0; i < 3; ++i) {
            committed << sampleRecord(i);
            store->commit(committed.last());
        }
        // While the server answers, a commit returns once the record is there.
        QCOMPARE(serverIds(database), ids(committed));
        QCOMPARE(store->waitingForServer(), 0);

        QVERIFY2(m_server->stop(), qPrintable(m_server->problem()));
        for (int i = 3; i < 8; ++i) {
            committed << sampleRecord(i, QStringLiteral("Com 2"), QStringLiteral("no-response"));
            QElapsedTimer timer;
            timer.start();
            store->commit(committed.last());
            QVERIFY2(timer.elapsed() < 5000, qPrintable(QStringLiteral("a commit took %1 ms").arg(timer.elapsed())));
        }
        QCOMPARE(store->waitingForServer(), 5);
        QVERIFY(!store->serverProblem().isEmpty());
        QVERIFY(store->describe().startsWith(QLatin1String("postgresql://quobin@/")));

        QVERIFY2(m_server->start(), qPrintable(m_server->problem()));
        QVERIFY2(waitUntilSent(*store, 20), "the spool was not sent within 20 s of the server's return");
        QCOMPARE(serverIds(database), ids(committed));
        QCOMPARE(store->serverProblem(), QString());
        QCOMPARE(store->read(), committed);
        QCOMPARE(store->read(committed[5].started), committed.mid(5));
    }

    void recordsLeftInTheSpoolAreSentAtTheNextStart()
    {
        ensureRunning();
        const QString database = newDatabase();
        const QProcessEnvironment station = stationEnvironment(database);
        QVERIFY2(m_server->stop(), qPrintable(m_server->problem()));
        QList<BoardRecord> committed;
        {
            // Unreachable at start: no error, the records wait.
            const auto store = openRecordStore(m_server->tcpUrl(database), station);
            for (int i = 0; i < 4; ++i) {
                committed << sampleRecord(i);
                store->commit(committed.last());
            }
            QCOMPARE(store->waitingForServer(), 4);
        }
        QVERIFY2(m_server->start(), qPrintable(m_server->problem()));
        QString output;
        QVERIFY(m_server->psql(database, QStringLiteral("SELECT to_regclass('board_records') IS NULL"), &output));
        QCOMPARE(output, QStringLiteral("t")); // nothing has reached the server yet
        const auto store = openRecordStore(m_server->tcpUrl(database), station);
        QVERIFY2(waitUntilSent(*store, 20), "the spool of the last run was not sent");
        QCOMPARE(serverIds(database), ids(committed));
        // Another look at the same server finds nothing more to send.
        const auto again = openRecordStore(m_server->tcpUrl(database), station);
        QCOMPARE(again->waitingForServer(), 0);
        QCOMPARE(serverIds(database), ids(committed));
    }

    void stationsOfALineShareOneServer()
    {
        ensureRunning();
        const QString database = newDatabase();
        const auto first = openRecordStore(m_server->socketUrl(database), stationEnvironment(database + "a"));
        const auto second = openRecordStore(m_server->socketUrl(database), stationEnvironment(database + "b"));
        std::vector<std::thread> stations;
        std::atomic<int> failures{0};
        for (int t = 0; t < 6; ++t)
            stations.emplace_back([&, t] {
                RecordStore &store = t % 2 ? *first : *second;
                for (int i = 0; i < 15; ++i) {
                    try {
                        store.commit(sampleRecord(i, QStringLiteral("Com %1").arg(t + 1)));
                    } catch (const RecordStoreError &) {
                        ++failures;
                    }
                }
            });
        for (std::thread &slot : stations)
            slot.join();
        QCOMPARE(failures.load(), 0);
        const BoardRecord twice = sampleRecord(99);
        first->commit(twice);
        second->commit(twice);
        const QStringList onServer = serverIds(database);
        QCOMPARE(onServer.size(), 6 * 15 + 1);
        QCOMPARE(QSet<QString>(onServer.cbegin(), onServer.cend()).size(), onServer.size());
    }

    void aUserThatMayOnlyInsertAndSelectKeepsRecords()
    {
        ensureRunning();
        const QString database = newDatabase();
        // The administrator's store makes the tables; the stations' user
        // may not create tables (PostgreSQL 15's default for the public
        // schema), only insert and select.
        openRecordStore(m_server->socketUrl(database), stationEnvironment(database))->commit(sampleRecord(0));
        QString output;
        QVERIFY2(m_server->psql(database, QStringLiteral("CREATE ROLE station LOGIN; GRANT SELECT, INSERT ON "
                                                         "board_records, quobin_schema TO station"), &output)
                     || m_server->psql(database, QStringLiteral("GRANT SELECT, INSERT ON board_records, "
                                                                "quobin_schema TO station"), &output),
                 qPrintable(m_server->problem()));
        QString url = m_server->socketUrl(database);
        url.replace(QLatin1String("//quobin@"), QLatin1String("//station@"));
        const auto store = openRecordStore(url, stationEnvironment(database + "-station"));
        const BoardRecord record = sampleRecord(1);
        store->commit(record);
        QCOMPARE(store->waitingForServer(), 0);
        QCOMPARE(store->serverProblem(), QString());
        QCOMPARE(serverIds(database).last(), record.id.toString(QUuid::WithoutBraces));
    }

    void aServerThatRefusesTheConnectionSaysWhy()
    {
        ensureRunning();
        // The server answers, but there is no such database: the records
        // wait, and the reason is the server's.
        const auto store = openRecordStore(m_server->socketUrl(QStringLiteral("nosuchdb")), stationEnvironment("nosuchdb"));
        store->commit(sampleRecord(0));
        QCOMPARE(store->waitingForServer(), 1);
        QVERIFY2(store->serverProblem().contains(QLatin1String("nosuchdb")), qPrintable(store->serverProblem()));
    }

    // A line's server of schema version 4 gets the records' socket, the live
    // view's tables and the records' views when a station next connects; the views count as
    // the station does, in PostgreSQL's dialect too.
    void aVersion4ServerGetsTheLiveViewAndTheViews()
    {
        ensureRunning();
        const QString database = newDatabase();
        openRecordStore(m_server->socketUrl(database), stationEnvironment(database))->commit(sampleRecord(0));
        QString output;
        QVERIFY2(m_server->psql(database, QStringLiteral("DROP VIEW line_hourly; DROP VIEW line_failures;"
                                                         " DROP TABLE station_live; DROP TABLE slot_live;"
                                                         " ALTER TABLE board_records DROP COLUMN socket;"
                                                         " UPDATE quobin_schema SET version = 4"), &output),
                 qPrintable(m_server->problem()));
        {
            const auto store = openRecordStore(m_server->socketUrl(database), stationEnvironment(database));
            store->commit(sampleRecord(60, QStringLiteral("Com 2"), QStringLiteral("no-response")));
            store->commit(sampleRecord(120, QStringLiteral("Com 2"), QStringLiteral("cancelled")));
            QVERIFY(waitUntilSent(*store, 10));
        }
        QVERIFY(m_server->psql(database, QStringLiteral("SELECT version FROM quobin_schema"), &output));
        QCOMPARE(output, QStringLiteral("5"));
        // The record from before the upgrade has no socket; the two after it keep theirs.
        QVERIFY(m_server->psql(database, QStringLiteral("SELECT count(*) FROM board_records WHERE socket = ''"), &output));
        QCOMPARE(output, QStringLiteral("1"));
        QVERIFY(m_server->psql(database, QStringLiteral("SELECT count(*) FROM station_live, slot_live"), &output));
        QCOMPARE(output, QStringLiteral("0"));
        QVERIFY(m_server->psql(database, QStringLiteral("SELECT hour || ' ' || station || ' ' || boards || ' ' || passed"
                                                        " || ' ' || failed || ' ' || first_pass_yield FROM line_hourly"),
                               &output));
        QCOMPARE(output, QStringLiteral("2026-03-01T08:00:00Z bench-7 2 1 1 0.5"));
        QVERIFY(m_server->psql(database, QStringLiteral("SELECT slot || ' ' || result || ' ' || ended || ' '"
                                                        " || coalesce(serial::text, '-') FROM line_failures"), &output));
        QCOMPARE(output, QStringLiteral("Com 2 no-response 2026-03-01T08:01:41.450Z -"));
    }

    void aServerOfANewerSchemaIsRefused()
    {
        ensureRunning();
        const QString database = newDatabase();
        openRecordStore(m_server->socketUrl(database), stationEnvironment(database))->commit(sampleRecord(0));
        QString output;
        QVERIFY(m_server->psql(database, QStringLiteral("UPDATE quobin_schema SET version = 6"), &output));
        try {
            openRecordStore(m_server->socketUrl(database), stationEnvironment(database));
            QFAIL("a newer schema was accepted");
        } catch (const RecordStoreError &error) {
            QVERIFY2(error.reason().contains(QLatin1String("newer than")), qPrintable(error.reason()));
        }
    }
};

QTEST_GUILESS_MAIN(TestRecordsServer)
#include "tst_records_server.moc"
