#include "CliRun.h"
#include "HexRecord.h"
#include "PostgresServer.h"
#include "ReadmeBlock.h"
#include "StationRig.h"
#include "TempFiles.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QTest>

#include <csignal>

#include <pwd.h>
#include <unistd.h>

using namespace quobin;
using namespace quobin::testing;

namespace {

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The SQL of a README block between its markers.
QString readmeBlock(const QString &name)
{
    return quobin::testing::readmeBlock(QStringLiteral(QUOBIN_README), name);
}

} // namespace

// Approved jobs end to end: the built quobin-cli approves, lists, shows and
// withdraws them, and its station flashes them into fixtures played by the
// built vantor-sim, from a SQLite file and from a real PostgreSQL server
// whose roles are the README's.
class StationJobsTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;
    QByteArray m_hex = sim::HexRecord::sampleImage(60);
    QByteArray m_newHex = sim::HexRecord::sampleImage(90);
    QString m_firmware = m_folder.write(QStringLiteral("image.hex"), m_hex);
    QString m_newFirmware = m_folder.write(QStringLiteral("image-2.hex"), m_newHex);

    QProcessEnvironment environment(const QString &station = QStringLiteral("data")) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.filePath(station));
        return env;
    }
    CliResult job(const QStringList &arguments, const QString &target)
    {
        return runCli(QStringList{QStringLiteral("job")} + arguments + QStringList{QStringLiteral("--records"), target},
                      environment());
    }

    // A server with the README's rights: the owner made the tables, a
    // supervisor and an operator own nothing.
    struct Line {
        PostgresServer server;
        QString owner, supervisor, operatorUrl;
    };
    bool startLine(Line &line)
    {
        const QString grants = readmeBlock(QStringLiteral("grants"));
        const QString jobGrants = readmeBlock(QStringLiteral("job grants"));
        if (grants.isEmpty() || jobGrants.isEmpty()) {
            qWarning("the README's grants are not found");
            return false;
        }
        if (!line.server.start() || !line.server.createDatabase(QStringLiteral("line"))) {
            qWarning("%s", qPrintable(line.server.problem()));
            return false;
        }
        line.owner = line.server.socketUrl(QStringLiteral("line"));
        const auto as = [&](const char *user) {
            QString url = line.owner;
            return url.replace(QStringLiteral("postgresql://quobin@"), QStringLiteral("postgresql://%1@").arg(QLatin1String(user)));
        };
        line.supervisor = as("anna");
        line.operatorUrl = as("line");
        // The tables are made by their owner, as an administrator does.
        if (runCli({QStringLiteral("job"), QStringLiteral("list"), QStringLiteral("--records"), line.owner}, environment()).status != 0)
            return false;
        QString out;
        if (!line.server.psql(QStringLiteral("line"), QStringLiteral("CREATE ROLE line LOGIN; CREATE ROLE office LOGIN;")
                                  + grants + jobGrants + QStringLiteral("CREATE ROLE anna LOGIN IN ROLE supervisors;"),
                              &out)) {
            qWarning("%s", qPrintable(line.server.problem()));
            return false;
        }
        return true;
    }

private slots:
    // SQLite: two versions approved, listed, shown with each approval; a
    // station runs the current one on two slots and every board gets its
    // bytes, its records naming the job and version; a --job run takes no
    // file or settings of its own; after a withdrawal no station starts.
    void aJobInASqliteFile()
    {
        const QString database = m_folder.filePath(QStringLiteral("jobs.sqlite"));
        QCOMPARE(job({QStringLiteral("approve"), QStringLiteral("pump"), m_firmware}, database).status, 0);
        const CliResult second = job({QStringLiteral("approve"), QStringLiteral("pump"), m_newFirmware,
                                      QStringLiteral("--on-error"), QStringLiteral("continue")}, database);
        QCOMPARE(second.status, 0);
        QVERIFY2(second.out.contains(QStringLiteral("Approved job pump version 2 approved by ")), qPrintable(second.out));
        // An image a station refuses is refused at approval; so is a bad policy.
        const QString bad = m_folder.write(QStringLiteral("bad.hex"), QByteArray(":0400000001020304F3\r\n:00000001FF\r\n"));
        QCOMPARE(job({QStringLiteral("approve"), QStringLiteral("pump"), bad}, database).status, 2);
        QCOMPARE(job({QStringLiteral("approve"), QStringLiteral("pump"), m_firmware, QStringLiteral("--on-error"),
                      QStringLiteral("ask")}, database).status, 2);
        QCOMPARE(job({QStringLiteral("approve"), QStringLiteral("pump"), m_firmware, QStringLiteral("--serial"),
                      QStringLiteral("pump@0x7FFF0000:4:le")}, database).status, 2);

        const CliResult list = job({QStringLiteral("list"), QStringLiteral("--json")}, database);
        QCOMPARE(list.status, 0);
        const QJsonObject listed = QJsonDocument::fromJson(list.out.toUtf8()).object();
        QCOMPARE(listed.value(QStringLiteral("version")).toInt(), 2);
        QCOMPARE(listed.value(QStringLiteral("sha256")).toString(), sha256(m_newHex));
        QCOMPARE(listed.value(QStringLiteral("size")).toInt(), m_newHex.size());
        QCOMPARE(listed.value(QStringLiteral("onError")).toString(), QStringLiteral("continue"));
        const CliResult show = job({QStringLiteral("show"), QStringLiteral("pump"), QStringLiteral("--json")}, database);
        const QJsonArray versions =
            QJsonDocument::fromJson(show.out.toUtf8()).object().value(QStringLiteral("versions")).toArray();
        QCOMPARE(versions.size(), 2);
        QCOMPARE(versions[1].toObject().value(QStringLiteral("sha256")).toString(), sha256(m_hex));
        // On SQLite the approver is the system's user that ran the command.
        QCOMPARE(versions[1].toObject().value(QStringLiteral("approvedBy")).toString(),
                 QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name));

        for (const QStringList &refused : {QStringList{QStringLiteral("--job"), QStringLiteral("pump"), m_firmware},
                                           QStringList{QStringLiteral("--job"), QStringLiteral("pump"), QStringLiteral("--serial"),
                                                       QStringLiteral("pump@0x10:4:le")},
                                           QStringList{QStringLiteral("--job"), QStringLiteral("pump"), QStringLiteral("--on-error"),
                                                       QStringLiteral("stop")}}) {
            StationRun station(environment());
            station.start(QStringList{QStringLiteral("--slot"), m_folder.filePath(QStringLiteral("nothing")),
                                      QStringLiteral("--records"), database} + refused);
            QCOMPARE(station.finish(), 2);
            QVERIFY2(station.errors().contains("--job pump takes no"), station.errors().constData());
        }

        const QStringList options{QStringLiteral("--fixture"), QStringLiteral("100"), QStringLiteral("--boards"), QStringLiteral("2")};
        SimFixture one(m_folder.path(), QStringLiteral("sq1"), options);
        SimFixture two(m_folder.path(), QStringLiteral("sq2"), options);
        QVERIFY(one.ready() && two.ready());
        StationRun station(environment());
        station.start({QStringLiteral("--slot"), one.link(), QStringLiteral("--slot"), two.link(), QStringLiteral("--count"),
                       QStringLiteral("4"), QStringLiteral("--json"), QStringLiteral("--records"), database,
                       QStringLiteral("--job"), QStringLiteral("pump")});
        QCOMPARE(station.finish(), 0);
        for (SimFixture *fixture : {&one, &two})
            for (int board = 1; board <= 2; ++board)
                QCOMPARE(fixture->image(board), m_newHex);
        QCOMPARE(station.records().size(), 4);
        for (const QJsonObject &record : station.records()) {
            QCOMPARE(record.value(QStringLiteral("job")).toString(), QStringLiteral("pump"));
            QCOMPARE(record.value(QStringLiteral("jobVersion")).toInt(), 2);
            QCOMPARE(record.value(QStringLiteral("jobSha256")).toString(), sha256(m_newHex));
            QCOMPARE(record.value(QStringLiteral("jobFile")).toString(), QStringLiteral("image-2.hex"));
        }
        const CliResult csv = runCli({QStringLiteral("records"), QStringLiteral("--records"), database, QStringLiteral("--csv")},
                                     environment());
        QVERIFY2(csv.out.section(QLatin1Char('\n'), 0, 0).endsWith(QStringLiteral(",job,job_version,board_id,reflash\r")), qPrintable(csv.out));
        QCOMPARE(csv.out.count(QStringLiteral(",pump,2,,\r\n")), 4);

        const CliResult withdrawn = job({QStringLiteral("withdraw"), QStringLiteral("pump")}, database);
        QCOMPARE(withdrawn.status, 0);
        QCOMPARE(job({QStringLiteral("withdraw"), QStringLiteral("pump")}, database).status, 1);
        const CliResult shown = job({QStringLiteral("show"), QStringLiteral("pump")}, database);
        QVERIFY2(shown.out.contains(QStringLiteral("current version 2 (withdrawn)")), qPrintable(shown.out));
        StationRun refused(environment());
        refused.start({QStringLiteral("--slot"), one.link(), QStringLiteral("--records"), database, QStringLiteral("--job"),
                       QStringLiteral("pump")});
        QCOMPARE(refused.finish(), 1);
        QVERIFY2(refused.errors().contains("was withdrawn by "), refused.errors().constData());

        // A job's serial format and policy are the run's: every board gets
        // the next number of the job's series.
        QCOMPARE(job({QStringLiteral("approve"), QStringLiteral("numbered"), m_firmware, QStringLiteral("--serial"),
                      QStringLiteral("pump@0x0E:4:le:100")}, database).status, 0);
        SimFixture numbered(m_folder.path(), QStringLiteral("sq3"), {QStringLiteral("--fixture"), QStringLiteral("100")});
        QVERIFY(numbered.ready());
        StationRun serials(environment());
        serials.start({QStringLiteral("--slot"), numbered.link(), QStringLiteral("--count"), QStringLiteral("2"),
                       QStringLiteral("--json"), QStringLiteral("--records"), database, QStringLiteral("--job"),
                       QStringLiteral("numbered")});
        QCOMPARE(serials.finish(), 0);
        QCOMPARE(serials.records().size(), 2);
        for (int board = 1; board <= 2; ++board) {
            const QJsonObject record = serials.records()[board - 1];
            QCOMPARE(record.value(QStringLiteral("series")).toString(), QStringLiteral("pump"));
            QCOMPARE(record.value(QStringLiteral("serial")).toInt(), 99 + board);
            QCOMPARE(record.value(QStringLiteral("job")).toString(), QStringLiteral("numbered"));
            const QByteArray image = numbered.image(board);
            QCOMPARE(image.size(), m_hex.size());
            QVERIFY(image != m_hex);
            QCOMPARE(record.value(QStringLiteral("jobSha256")).toString(), sha256(m_hex));
        }
    }

    // PostgreSQL with the README's roles: a supervisor approves; a station
    // logged in as the operators' role flashes it on two slots, byte for
    // byte; the operator may neither approve nor withdraw, and is told
    // which right is missing.
    void aSupervisorApprovesAndAnOperatorRunsIt()
    {
        Line line;
        QVERIFY(startLine(line));
        const CliResult approved = job({QStringLiteral("approve"), QStringLiteral("pump"), m_firmware}, line.supervisor);
        QCOMPARE(approved.status, 0);
        QVERIFY2(approved.out.contains(QStringLiteral("version 1 approved by anna at ")), qPrintable(approved.out));

        const CliResult approve = job({QStringLiteral("approve"), QStringLiteral("pump"), m_newFirmware}, line.operatorUrl);
        QCOMPARE(approve.status, 1);
        QVERIFY2(approve.err.contains(QStringLiteral("permission denied for table jobs"))
                     && approve.err.contains(QStringLiteral("Approving a job needs the rights SELECT and INSERT on the table jobs")),
                 qPrintable(approve.err));
        const CliResult withdraw = job({QStringLiteral("withdraw"), QStringLiteral("pump")}, line.operatorUrl);
        QCOMPARE(withdraw.status, 1);
        QVERIFY2(withdraw.err.contains(QStringLiteral("permission denied for table jobs"))
                     && withdraw.err.contains(QStringLiteral("UPDATE of its columns withdrawn_by and withdrawn")),
                 qPrintable(withdraw.err));
        const CliResult listed = job({QStringLiteral("list")}, line.operatorUrl);
        QCOMPARE(listed.status, 0);
        QVERIFY2(listed.out.contains(QStringLiteral("pump: version 1 approved by anna")), qPrintable(listed.out));

        const QStringList options{QStringLiteral("--fixture"), QStringLiteral("100"), QStringLiteral("--boards"), QStringLiteral("2")};
        SimFixture one(m_folder.path(), QStringLiteral("pg1"), options);
        SimFixture two(m_folder.path(), QStringLiteral("pg2"), options);
        QVERIFY(one.ready() && two.ready());
        StationRun station(environment(QStringLiteral("pg-station")));
        station.start({QStringLiteral("--slot"), one.link(), QStringLiteral("--slot"), two.link(), QStringLiteral("--count"),
                       QStringLiteral("4"), QStringLiteral("--json"), QStringLiteral("--records"), line.operatorUrl,
                       QStringLiteral("--job"), QStringLiteral("pump")});
        QCOMPARE(station.finish(), 0);
        const QList<QJsonObject> heading = station.events(QStringLiteral("job"));
        QCOMPARE(heading.size(), 1);
        QCOMPARE(heading[0].value(QStringLiteral("job")).toString(), QStringLiteral("pump version 1"));
        QCOMPARE(heading[0].value(QStringLiteral("jobFile")).toString(), QStringLiteral("image.hex"));
        for (SimFixture *fixture : {&one, &two})
            for (int board = 1; board <= 2; ++board)
                QCOMPARE(fixture->image(board), m_hex);
        QString out;
        QVERIFY(line.server.psql(QStringLiteral("line"), QStringLiteral("SELECT count(*) FROM board_records WHERE job_name = 'pump'"
                                                                       " AND job_version = 1 AND result = 'success'"), &out));
        QCOMPARE(out, QStringLiteral("4"));
    }

    // The owner alters the approved bytes in the database: the station
    // refuses before any board is flashed from them, and says why.
    void anImageChangedBehindTheJobsBackIsRefused()
    {
        Line line;
        QVERIFY(startLine(line));
        QCOMPARE(job({QStringLiteral("approve"), QStringLiteral("pump"), m_firmware}, line.supervisor).status, 0);
        QString out;
        QVERIFY(line.server.psql(QStringLiteral("line"), QStringLiteral("UPDATE jobs SET image = overlay(image placing 'F'::bytea"
                                                                       " from 20)"), &out));
        SimFixture fixture(m_folder.path(), QStringLiteral("tampered"),
                           {QStringLiteral("--fixture"), QStringLiteral("100")});
        QVERIFY(fixture.ready());
        StationRun station(environment(QStringLiteral("tampered-data")));
        station.start({QStringLiteral("--slot"), fixture.link(), QStringLiteral("--records"), line.operatorUrl,
                       QStringLiteral("--job"), QStringLiteral("pump")});
        QCOMPARE(station.finish(), 1);
        QVERIFY2(station.errors().contains("does not match the SHA-256 approved with it"), station.errors().constData());
        QCOMPARE(fixture.count("uploads"), 0);

        // While a station runs, the owner changes a version's bytes and its
        // SHA-256 alike: the station, which read that version already, takes
        // no new board from it; the slot waiting for one stops.
        QCOMPARE(job({QStringLiteral("approve"), QStringLiteral("pump"), m_firmware}, line.supervisor).status, 0);
        SimFixture slow(m_folder.path(), QStringLiteral("slow"), {QStringLiteral("--fixture"), QStringLiteral("4000")});
        QVERIFY(slow.ready());
        StationRun running(environment(QStringLiteral("slow-data")));
        running.start({QStringLiteral("--slot"), slow.link(), QStringLiteral("--json"), QStringLiteral("--records"),
                       line.operatorUrl, QStringLiteral("--job"), QStringLiteral("pump")});
        QVERIFY2(waitFor([&] { return running.records().size() == 1; }, kBoardMsecs), running.errors().constData());
        QVERIFY(line.server.psql(QStringLiteral("line"),
                                 QStringLiteral("UPDATE jobs SET image = overlay(image placing 'F'::bytea from 20),"
                                                " image_sha256 = encode(sha256(overlay(image placing 'F'::bytea from 20)), 'hex')"
                                                " WHERE version = 2"), &out));
        QCOMPARE(running.finish(), 1);
        QVERIFY2(running.errors().contains("has changed since this station read it"), running.errors().constData());
        QCOMPARE(running.records().size(), 1);
        QCOMPARE(slow.count("uploads"), 1);
        QCOMPARE(slow.image(1), m_hex);
    }

    // A new version approved while a station runs reaches the boards that
    // come after it, and the records say which; a withdrawal stops new
    // boards within one, and the station says who withdrew it.
    void aNewVersionAndAWithdrawalReachARunningStation()
    {
        Line line;
        QVERIFY(startLine(line));
        QCOMPARE(job({QStringLiteral("approve"), QStringLiteral("pump"), m_firmware}, line.supervisor).status, 0);
        SimFixture fixture(m_folder.path(), QStringLiteral("versions"), {QStringLiteral("--fixture"), QStringLiteral("1500")});
        QVERIFY(fixture.ready());
        StationRun station(environment(QStringLiteral("versions-data")));
        station.start({QStringLiteral("--slot"), fixture.link(), QStringLiteral("--json"), QStringLiteral("--records"),
                       line.operatorUrl, QStringLiteral("--job"), QStringLiteral("pump")});
        QVERIFY2(waitFor([&] { return station.records().size() >= 1; }, kBoardMsecs), station.errors().constData());
        QCOMPARE(job({QStringLiteral("approve"), QStringLiteral("pump"), m_newFirmware}, line.supervisor).status, 0);
        const int before = int(station.records().size());
        QVERIFY2(waitFor([&] { return station.records().size() >= before + 2; }, kBoardMsecs), station.errors().constData());
        QCOMPARE(job({QStringLiteral("withdraw"), QStringLiteral("pump")}, line.supervisor).status, 0);
        const int atWithdrawal = int(station.records().size());
        QCOMPARE(station.finish(), 1);
        QVERIFY2(station.errors().contains("was withdrawn by anna at "), station.errors().constData());

        // The boards before the approval got version 1, at most one more
        // (in progress then) too, every later one version 2; at most one
        // board (in progress) after the withdrawal. Each board took exactly
        // the image its record names.
        const QList<QJsonObject> records = station.records();
        QList<QByteArray> expected;
        int lastOld = 0;
        for (int i = 0; i < records.size(); ++i) {
            const int version = records[i].value(QStringLiteral("jobVersion")).toInt();
            QVERIFY(version == 1 || version == 2);
            expected << (version == 1 ? m_hex : m_newHex);
            QCOMPARE(records[i].value(QStringLiteral("jobSha256")).toString(), sha256(expected.last()));
            QCOMPARE(records[i].value(QStringLiteral("result")).toString(), QStringLiteral("success"));
            if (version == 1)
                lastOld = i + 1;
        }
        QVERIFY2(lastOld >= before && lastOld <= before + 1, qPrintable(QString::number(lastOld)));
        QVERIFY(records.size() - lastOld >= 1);
        QVERIFY2(records.size() <= atWithdrawal + 1, qPrintable(QString::number(records.size())));
        QList<QByteArray> flashed;
        for (int board = 1; board <= fixture.count("boards"); ++board)
            if (fixture.board(board).value(QStringLiteral("completed")).toBool())
                flashed << fixture.image(board);
        QCOMPARE(flashed, expected);
    }
};

QTEST_GUILESS_MAIN(StationJobsTest)
#include "tst_station_jobs.moc"
