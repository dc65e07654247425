#include "CliRun.h"
#include "HexRecord.h"
#include "PostgresServer.h"
#include "StationRig.h"
#include "TempFiles.h"

#include <QJsonArray>
#include <QSet>
#include <QTest>

using namespace quobin;
using namespace quobin::testing;

namespace {

// The records that `records --board ID --json` gives (its summary line left out).
QList<QJsonObject> historyOf(const CliResult &run)
{
    QList<QJsonObject> records;
    for (const QString &line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        if (object.contains(QStringLiteral("id")) && object.contains(QStringLiteral("result")))
            records << object;
    }
    return records;
}

} // namespace

// Board IDs end to end: a job approved with a rule makes the built
// quobin-cli station ask for each board's ID on standard input before it
// flashes the board, in fixtures played by the built vantor-sim; a label
// the rule refuses, and a board that passed before, are not flashed; the
// records keep each ID beside its serial, in a SQLite file and on a real
// PostgreSQL server shared by two stations.
class StationBoardIdsTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;
    QByteArray m_hex = sim::HexRecord::sampleImage(60);
    QString m_firmware = m_folder.write(QStringLiteral("image.hex"), m_hex);
    // A board that says "^" and is not answered says it again after this.
    const QStringList m_fixture{QStringLiteral("--fixture"), QStringLiteral("100"), QStringLiteral("--quiet-swap"),
                                QStringLiteral("1500")};

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.filePath(QStringLiteral("data")));
        return env;
    }
    CliResult cli(const QStringList &arguments) { return runCli(arguments, environment()); }
    CliResult approve(const QString &target, const QStringList &options)
    {
        return cli(QStringList{QStringLiteral("job"), QStringLiteral("approve"), QStringLiteral("pump"), m_firmware,
                               QStringLiteral("--records"), target} + options);
    }

private slots:
    // SQLite, two slots. A bad rule is refused at approval. A label that
    // fails the rule is refused with the reason and nothing is flashed; the
    // other slot flashes meanwhile. A board that passed is refused with
    // where and when, until a new version allows re-flashing; the re-flash
    // is recorded as one. The end of standard input ends the run (0).
    void idsThroughStandardInput()
    {
        const QString database = m_folder.filePath(QStringLiteral("ids.sqlite"));
        QCOMPARE(approve(database, {QStringLiteral("--board-id"), QStringLiteral("^QB[0-9")}).status, 2);
        QCOMPARE(approve(database, {QStringLiteral("--board-id"), QStringLiteral(".*")}).status, 2);
        QCOMPARE(approve(database, {QStringLiteral("--reflash"), QStringLiteral("allow")}).status, 2);
        QCOMPARE(approve(database, {QStringLiteral("--board-id"), QStringLiteral("^QB[0-9]{4}$"), QStringLiteral("--reflash"),
                                    QStringLiteral("sometimes")}).status, 2);
        const CliResult approved = approve(database, {QStringLiteral("--board-id"), QStringLiteral("^QB[0-9]{4}$")});
        QCOMPARE(approved.status, 0);

        SimFixture one(m_folder.path(), QStringLiteral("id1"), m_fixture);
        SimFixture two(m_folder.path(), QStringLiteral("id2"), m_fixture);
        QVERIFY(one.ready() && two.ready());
        {
            StationRun station(environment());
            station.start({QStringLiteral("--slot"), one.link(), QStringLiteral("--slot"), two.link(), QStringLiteral("--json"),
                           QStringLiteral("--station"), QStringLiteral("bench-a"), QStringLiteral("--records"), database,
                           QStringLiteral("--job"), QStringLiteral("pump")});
            QVERIFY2(waitFor([&] { return station.events(QStringLiteral("board-id-wanted")).size() == 2; }, kBoardMsecs),
                     station.output().constData());
            // Slot 1 gets a label the rule refuses; slot 2 a good one, by
            // its name as the station shows it.
            station.type("1 QB12\n" + two.link().toUtf8() + " QB0002\n");
            QVERIFY2(waitFor([&] { return station.records().size() == 1; }, kBoardMsecs), station.output().constData());
            const QList<QJsonObject> refused = station.events(QStringLiteral("board-id-refused"));
            QCOMPARE(refused.size(), 1);
            QCOMPARE(refused[0].value(QStringLiteral("id")).toString(), QStringLiteral("QB12"));
            QVERIFY2(refused[0].value(QStringLiteral("reason")).toString().contains(QStringLiteral("does not match the job's rule ^QB[0-9]{4}$")),
                     qPrintable(refused[0].value(QStringLiteral("reason")).toString()));
            QCOMPARE(one.count("uploads"), 0);
            QCOMPARE(station.records()[0].value(QStringLiteral("boardId")).toString(), QStringLiteral("QB0002"));
            QCOMPARE(station.records()[0].value(QStringLiteral("result")).toString(), QStringLiteral("success"));
            // An ID alone goes to the slot that waits: slot 1.
            station.type("QB0001\n");
            QVERIFY2(waitFor([&] { return station.records().size() == 2; }, kBoardMsecs), station.output().constData());
            QCOMPARE(station.records()[1].value(QStringLiteral("slot")).toString(), one.link());
            // The same board again, on either slot: refused, with its history.
            station.type("QB0001\n2 QB0002\n");
            QVERIFY2(waitFor([&] { return station.events(QStringLiteral("board-id-refused")).size() == 3; }, kBoardMsecs),
                     station.output().constData());
            QStringList reasons;
            for (const QJsonObject &event : station.events(QStringLiteral("board-id-refused")).mid(1)) {
                const QString reason = event.value(QStringLiteral("reason")).toString();
                QVERIFY2(reason.contains(QStringLiteral("passed already (station bench-a, slot ")), qPrintable(reason));
                QVERIFY2(reason.contains(QStringLiteral("allows no re-flash")), qPrintable(reason));
                reasons << event.value(QStringLiteral("id")).toString() + QLatin1Char(' ') + reason;
            }
            // Each names the slot where that board passed.
            reasons.sort();
            QVERIFY2(reasons[0].startsWith(QStringLiteral("QB0001")) && reasons[0].contains(one.link()), qPrintable(reasons[0]));
            QVERIFY2(reasons[1].startsWith(QStringLiteral("QB0002")) && reasons[1].contains(two.link()), qPrintable(reasons[1]));
            station.type("nowhere QB0003\n");
            QVERIFY2(waitFor([&] { return station.events(QStringLiteral("board-id-refused")).size() == 4; }, kBoardMsecs),
                     station.output().constData());
            QVERIFY(station.events(QStringLiteral("board-id-refused"))[3].value(QStringLiteral("slot")).isNull());
            station.closeInput();
            QCOMPARE(station.finish(), 0);
            QCOMPARE(station.records().size(), 2);
            // The simulators write their reports a few times a second.
            QVERIFY(waitFor([&] { return one.count("uploads") == 1 && two.count("uploads") == 1; }, kSoonMsecs));
            QTest::qWait(1000);
            QCOMPARE(one.count("uploads") + two.count("uploads"), 2);
            const QList<QJsonObject> summary = station.events(QStringLiteral("summary"));
            QCOMPARE(summary.size(), 1);
        }

        // A new version allows re-flashing: the board is flashed again, and
        // its record says so.
        QCOMPARE(approve(database, {QStringLiteral("--board-id"), QStringLiteral("^QB[0-9]{4}$"), QStringLiteral("--reflash"),
                                    QStringLiteral("allow")}).status, 0);
        {
            StationRun station(environment());
            station.start({QStringLiteral("--slot"), one.link(), QStringLiteral("--json"), QStringLiteral("--records"), database,
                           QStringLiteral("--job"), QStringLiteral("pump")});
            station.type("1 QB0001\n");
            station.closeInput();
            QCOMPARE(station.finish(), 0);
            QCOMPARE(station.records().size(), 1);
            QCOMPARE(station.records()[0].value(QStringLiteral("reflash")).toBool(), true);
            QCOMPARE(station.records()[0].value(QStringLiteral("jobVersion")).toInt(), 2);
            QVERIFY(waitFor([&] { return one.count("uploads") == 2; }, kSoonMsecs));
        }
        const CliResult history = cli({QStringLiteral("records"), QStringLiteral("--records"), database, QStringLiteral("--board"),
                                       QStringLiteral("QB0001"), QStringLiteral("--json")});
        QCOMPARE(history.status, 0);
        const QList<QJsonObject> attempts = historyOf(history);
        QCOMPARE(attempts.size(), 2);
        QCOMPARE(attempts[0].value(QStringLiteral("reflash")).toBool(), false);
        QCOMPARE(attempts[0].value(QStringLiteral("jobVersion")).toInt(), 1);
        QCOMPARE(attempts[1].value(QStringLiteral("reflash")).toBool(), true);
        const CliResult text = cli({QStringLiteral("records"), QStringLiteral("--records"), database, QStringLiteral("--board"),
                                    QStringLiteral("QB0001")});
        QVERIFY2(text.out.startsWith(QStringLiteral("Board QB0001: 2 attempts, 2 passed.\n")), qPrintable(text.out));
        QVERIFY2(text.out.contains(QStringLiteral("job pump version 2  board QB0001 (re-flash)")), qPrintable(text.out));
        const CliResult csv = cli({QStringLiteral("records"), QStringLiteral("--records"), database, QStringLiteral("--board"),
                                   QStringLiteral("QB0001"), QStringLiteral("--csv")});
        QVERIFY2(csv.out.section(QLatin1Char('\n'), 0, 0).endsWith(QStringLiteral(",job,job_version,board_id,reflash\r")),
                 qPrintable(csv.out));
        QCOMPARE(csv.out.count(QStringLiteral(",pump,1,QB0001,\r\n")), 1);
        QCOMPARE(csv.out.count(QStringLiteral(",pump,2,QB0001,yes\r\n")), 1);
    }

    // Two stations on one PostgreSQL database flash a job with board IDs
    // and serial numbers at once; a board that passed at one station is
    // refused at the other. Every ID has exactly one passed record, each
    // with its own serial.
    void twoStationsShareTheirBoards()
    {
        PostgresServer server;
        QVERIFY2(server.start() && server.createDatabase(QStringLiteral("line")), qPrintable(server.problem()));
        const QString target = server.socketUrl(QStringLiteral("line"));
        QCOMPARE(approve(target, {QStringLiteral("--board-id"), QStringLiteral("^QB[0-9]{4}$"), QStringLiteral("--serial"),
                                  QStringLiteral("pump@0x0E:4:le:100")}).status, 0);

        SimFixture a1(m_folder.path(), QStringLiteral("pa1"), m_fixture);
        SimFixture a2(m_folder.path(), QStringLiteral("pa2"), m_fixture);
        SimFixture b1(m_folder.path(), QStringLiteral("pb1"), m_fixture);
        SimFixture b2(m_folder.path(), QStringLiteral("pb2"), m_fixture);
        QVERIFY(a1.ready() && a2.ready() && b1.ready() && b2.ready());
        StationRun a(environment());
        StationRun b(environment());
        const auto start = [&](StationRun &station, const QString &name, SimFixture &first, SimFixture &second) {
            station.start({QStringLiteral("--slot"), first.link(), QStringLiteral("--slot"), second.link(), QStringLiteral("--json"),
                           QStringLiteral("--station"), name, QStringLiteral("--records"), target, QStringLiteral("--job"),
                           QStringLiteral("pump")});
        };
        start(a, QStringLiteral("bench-a"), a1, a2);
        start(b, QStringLiteral("bench-b"), b1, b2);
        a.type("QB1001\nQB1002\n");
        b.type("QB2001\nQB2002\n");
        QVERIFY2(waitFor([&] { return a.records().size() == 2 && b.records().size() == 2; }, kBoardMsecs),
                 (a.errors() + b.errors() + a.output() + b.output()).constData());
        // Station b is given a's board: refused, naming bench-a.
        b.type("QB1001\n");
        QVERIFY2(waitFor([&] { return b.events(QStringLiteral("board-id-refused")).size() == 1; }, kBoardMsecs),
                 b.output().constData());
        QVERIFY(b.events(QStringLiteral("board-id-refused"))[0].value(QStringLiteral("reason")).toString()
                    .contains(QStringLiteral("passed already (station bench-a, slot ")));
        a.type("QB1003\n");
        b.type("QB2003\n");
        QVERIFY2(waitFor([&] { return a.records().size() == 3 && b.records().size() == 3; }, kBoardMsecs),
                 (a.output() + b.output()).constData());
        a.closeInput();
        b.closeInput();
        QCOMPARE(a.finish(), 0);
        QCOMPARE(b.finish(), 0);

        QSet<int> serials;
        for (const char *id : {"QB1001", "QB1002", "QB1003", "QB2001", "QB2002", "QB2003"}) {
            const CliResult history = cli({QStringLiteral("records"), QStringLiteral("--records"), target,
                                           QStringLiteral("--board"), QLatin1String(id), QStringLiteral("--json")});
            QCOMPARE(history.status, 0);
            const QList<QJsonObject> attempts = historyOf(history);
            QCOMPARE(attempts.size(), 1);
            QCOMPARE(attempts[0].value(QStringLiteral("result")).toString(), QStringLiteral("success"));
            QCOMPARE(attempts[0].value(QStringLiteral("station")).toString(),
                     QLatin1String(id).startsWith(QLatin1String("QB1")) ? QStringLiteral("bench-a") : QStringLiteral("bench-b"));
            QCOMPARE(attempts[0].value(QStringLiteral("series")).toString(), QStringLiteral("pump"));
            serials.insert(attempts[0].value(QStringLiteral("serial")).toInt());
        }
        // Each station takes its numbers from the shared counter: all differ.
        QCOMPARE(serials.size(), 6);
        const auto uploads = [&] {
            return a1.count("uploads") + a2.count("uploads") + b1.count("uploads") + b2.count("uploads");
        };
        QVERIFY(waitFor([&] { return uploads() == 6; }, kSoonMsecs));
        QTest::qWait(1000);
        QCOMPARE(uploads(), 6);
    }
};

QTEST_GUILESS_MAIN(StationBoardIdsTest)
#include "tst_station_board_ids.moc"
