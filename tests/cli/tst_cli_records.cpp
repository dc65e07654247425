// quobin-cli records against a database the test fills: the listing, the
// summary, CSV for a spreadsheet, JSON for a script, --since, and the
// usage that is refused.
#include "CliRun.h"
#include "RecordSamples.h"
#include "RecordStores.h"
#include "TempFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace quobin::records;
using quobin::testing::runProgram;
using quobin::testing::sampleRecord;

namespace {

// A strict RFC 4180 reader: fields separated by commas, records by CR LF,
// quoted fields may hold commas, line breaks and doubled quotes.
QList<QStringList> parseCsv(const QString &text, QString *problem)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"') && field.isEmpty()) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row << field;
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
            row << field;
            rows << row;
            row.clear();
            field.clear();
            ++i;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('"')) {
            *problem = QStringLiteral("a bare line break or quote at %1").arg(i);
            return {};
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.isEmpty())
        *problem = QStringLiteral("the last row does not end with CR LF");
    return rows;
}

} // namespace

class TestCliRecords : public QObject {
    Q_OBJECT

private:
    quobin::testing::TempFiles m_temp;
    QString m_database;
    QList<BoardRecord> m_records;

    QStringList with(const QStringList &arguments) const
    {
        return QStringList{QStringLiteral("records"), QStringLiteral("--records"), m_database} + arguments;
    }

private slots:
    void initTestCase()
    {
        m_database = m_temp.filePath(QStringLiteral("line.sqlite"));
        // Com 1: pass, pass, no answer; Com 2: pass, a No to a question;
        // committed out of order, as parallel slots finish.
        m_records = {sampleRecord(0), sampleRecord(10, QStringLiteral("Com 2")), sampleRecord(50),
                     sampleRecord(100, QStringLiteral("Com 1"), QStringLiteral("no-response")),
                     sampleRecord(3600, QStringLiteral("Com 2"), QStringLiteral("stopped"))};
        const auto store = openRecordStore(m_database);
        for (qsizetype i = m_records.size() - 1; i >= 0; --i)
            store->commit(m_records[i]);
    }

    void listsOldestFirstThenASummaryPerJobAndSlot()
    {
        const auto run = runProgram(QStringLiteral(QUOBIN_CLI), with({}));
        QCOMPARE(run.status, 0);
        const QStringList lines = run.out.split(QLatin1Char('\n'));
        QVERIFY2(lines.size() > 8, qPrintable(run.out));
        QVERIFY(lines[1].startsWith(QLatin1String("2026-03-01 08:00:00  bench-7       Com 1       success")));
        QVERIFY(lines[4].contains(QLatin1String("no-response")));
        // A message's line break stays within its record's line.
        QVERIFY(lines[4].endsWith(QLatin1String("Checksum error at line 17, \"twice\" stopped")));
        QVERIFY(lines[5].startsWith(QLatin1String("2026-03-01 09:00:00")));
        QVERIFY2(run.out.contains(QLatin1String(
                     "firmware.hex (9f86d081884c) on bench-7 Com 1: 3 boards, 2 passed, 1 failed (no-response 1), "
                     "first-pass yield 66.7 %\n")),
                 qPrintable(run.out));
        QVERIFY2(run.out.contains(QLatin1String(
                     "on bench-7 Com 2: 2 boards, 1 passed, 1 failed (stopped 1), first-pass yield 50.0 %\n")),
                 qPrintable(run.out));
    }

    void csvHoldsExactlyWhatWasRecorded()
    {
        const auto run = runProgram(QStringLiteral(QUOBIN_CLI), with({QStringLiteral("--csv")}));
        QCOMPARE(run.status, 0);
        QString problem;
        const QList<QStringList> rows = parseCsv(run.out, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(rows.size(), m_records.size() + 1);
        const QStringList header = rows[0];
        QCOMPARE(header.size(), 20);
        auto column = [&](const char *name) { return header.indexOf(QLatin1String(name)); };
        for (qsizetype i = 0; i < m_records.size(); ++i) {
            const QStringList &row = rows[i + 1];
            const BoardRecord &r = m_records[i];
            QCOMPARE(row.size(), header.size());
            QCOMPARE(row[column("id")], r.id.toString(QUuid::WithoutBraces));
            QCOMPARE(row[column("slot")], r.slot);
            QCOMPARE(row[column("job_sha256")], r.jobSha256);
            QCOMPARE(row[column("started")], r.started.toString(Qt::ISODateWithMs));
            QCOMPARE(row[column("result")], r.result);
            QCOMPARE(row[column("message")], r.message);
            QCOMPARE(row[column("bootloader_version")], QStringLiteral("1.28"));
            QCOMPARE(row[column("seconds")], QStringLiteral("41.200"));
            QCOMPARE(row[column("lines_sent")], QStringLiteral("3001"));
            QCOMPARE(row[column("questions")],
                     QStringLiteral("line 17: Checksum error at line 17. Continue with download? -> no"));
            QCOMPARE(row[column("log_path")], r.logPath);
        }
    }

    void jsonGivesOneObjectPerRecordThenTheSummary()
    {
        const auto run = runProgram(QStringLiteral(QUOBIN_CLI), with({QStringLiteral("--json")}));
        QCOMPARE(run.status, 0);
        const QStringList lines = run.out.trimmed().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), m_records.size() + 1);
        for (qsizetype i = 0; i < m_records.size(); ++i) {
            const QJsonObject record = QJsonDocument::fromJson(lines[i].toUtf8()).object();
            QCOMPARE(record.value(QStringLiteral("id")).toString(), m_records[i].id.toString(QUuid::WithoutBraces));
            QCOMPARE(record.value(QStringLiteral("bootloaderVersion")).toDouble(), 1.28);
            QCOMPARE(record.value(QStringLiteral("message")).toString(), m_records[i].message);
            QCOMPARE(record.value(QStringLiteral("questions")).toArray().first().toObject(),
                     (QJsonObject{{QStringLiteral("line"), 17},
                                  {QStringLiteral("reason"), m_records[i].questions.first().reason},
                                  {QStringLiteral("answer"), QStringLiteral("no")}}));
        }
        const QJsonObject last = QJsonDocument::fromJson(lines.last().toUtf8()).object();
        QCOMPARE(last.value(QStringLiteral("waitingForServer")).toInt(-1), 0);
        const QJsonArray summary = last.value(QStringLiteral("summary")).toArray();
        QCOMPARE(summary.size(), 2);
        const QJsonObject first = summary[0].toObject();
        QCOMPARE(first.value(QStringLiteral("slot")).toString(), QStringLiteral("Com 1"));
        QCOMPARE(first.value(QStringLiteral("boards")).toInt(), 3);
        QCOMPARE(first.value(QStringLiteral("passed")).toInt(), 2);
        QCOMPARE(first.value(QStringLiteral("failed")).toObject(), (QJsonObject{{QStringLiteral("no-response"), 1}}));
        QCOMPARE(first.value(QStringLiteral("firstPassYield")).toDouble(), 0.6667);
    }

    void sinceTakesADateOrATime_data()
    {
        QTest::addColumn<QString>("since");
        QTest::addColumn<int>("records");
        QTest::newRow("a date") << "2026-03-01" << 5;
        QTest::newRow("the next day") << "2026-03-02" << 0;
        QTest::newRow("a time, UTC") << "2026-03-01T08:00:10.250" << 4;
        QTest::newRow("with a space") << "2026-03-01 08:00:11" << 3;
        QTest::newRow("an offset") << "2026-03-01T09:01+01:00" << 2;
        QTest::newRow("Z") << "2026-03-01T08:30:00Z" << 1;
    }
    void sinceTakesADateOrATime()
    {
        QFETCH(QString, since);
        QFETCH(int, records);
        const auto run = runProgram(QStringLiteral(QUOBIN_CLI), with({QStringLiteral("--json"), QStringLiteral("--since"), since}));
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.trimmed().split(QLatin1Char('\n')).size(), records + 1);
    }

    void badUsageAndUnreadableTargetsExitWith2_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString db = m_temp.filePath(QStringLiteral("line.sqlite"));
        const QString text = m_temp.write(QStringLiteral("notes.txt"), QByteArray(2048, 'n'));
        QTest::newRow("csv and json") << QStringList{"--csv", "--json"} << "cannot be given together";
        QTest::newRow("since twice") << QStringList{"--since", "2026-03-01", "--since", "2026-03-02"} << "--since is given more than once";
        QTest::newRow("records twice") << QStringList{"--records", db, "--records", db} << "--records is given more than once";
        QTest::newRow("bad time") << QStringList{"--records", db, "--since", "03/01/2026"} << "--since takes an ISO date";
        QTest::newRow("extra argument") << QStringList{"--records", db, "more"} << "unexpected argument 'more'";
        QTest::newRow("missing file") << QStringList{"--records", m_temp.filePath(QStringLiteral("none.sqlite"))} << "no such records database";
        QTest::newRow("not a database") << QStringList{"--records", text} << "is not a records database";
        QTest::newRow("bad server URL") << QStringList{"--records", "postgresql://u:pw@host"} << "no database name";
    }
    void badUsageAndUnreadableTargetsExitWith2()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const auto run = runProgram(QStringLiteral(QUOBIN_CLI), QStringList{QStringLiteral("records")} + arguments);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFile::exists(m_temp.filePath(QStringLiteral("none.sqlite"))));
    }

    void withoutATargetTheUsersOwnFileIsListed()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_temp.filePath(QStringLiteral("data")));
        openRecordStore(QString(), env)->commit(sampleRecord(7, QStringLiteral("Com 4")));
        const auto run = runProgram(QStringLiteral(QUOBIN_CLI), {QStringLiteral("records"), QStringLiteral("--csv")}, env);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.count(QStringLiteral("\r\n")), 2);
        QVERIFY(run.out.contains(QLatin1String(",Com 4,")));
    }
};

QTEST_GUILESS_MAIN(TestCliRecords)
#include "tst_cli_records.moc"
