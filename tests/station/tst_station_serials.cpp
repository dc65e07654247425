// quobin-cli station --serial, the built program, against fixtures played by
// the built vantor-sim, with the records (and the serial counters) in real
// SQLite files: what each board received is read back from the simulator's
// board-N.hex and checked record by record, independently of the patcher.

#include "HexRecord.h"
#include "PostgresServer.h"
#include "ReadmeBlock.h"
#include "RecordStores.h"
#include "StationRig.h"
#include "TempFiles.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTest>

#include <algorithm>

using namespace quobin;
using namespace quobin::testing;

namespace {

struct HexLine {
    int type = -1;
    quint32 address = 0;
    QByteArray data;
    bool sumRight = false;
};

HexLine readLine(const QByteArray &text)
{
    HexLine line;
    if (!text.startsWith(':'))
        return line;
    const QByteArray bytes = QByteArray::fromHex(text.mid(1).trimmed());
    if (bytes.size() < 5 || bytes.size() != 5 + quint8(bytes[0]))
        return line;
    quint8 sum = 0;
    for (char byte : bytes)
        sum += quint8(byte);
    line.sumRight = sum == 0;
    line.address = (quint8(bytes[1]) << 8) | quint8(bytes[2]);
    line.type = quint8(bytes[3]);
    line.data = bytes.mid(4, quint8(bytes[0]));
    return line;
}

// The bytes at address .. address + width - 1 that board received, after
// checking that it received the job's lines with only those bytes changed
// and every changed line's checksum right. Empty, with *problem set, when
// it did not. (The job has no extended address records.)
QByteArray serialBytesIn(const QByteArray &board, const QByteArray &job, quint32 address, int width,
                         QString *problem)
{
    const QList<QByteArray> got = board.split('\n');
    const QList<QByteArray> sent = job.split('\n');
    if (got.size() != sent.size()) {
        *problem = QStringLiteral("%1 lines, the job has %2").arg(got.size()).arg(sent.size());
        return {};
    }
    QByteArray serial(width, '\0');
    int found = 0;
    for (int i = 0; i < got.size(); ++i) {
        const HexLine was = readLine(sent[i]);
        const HexLine is = readLine(got[i]);
        if (was.type == 0) {
            for (int b = 0; b < was.data.size(); ++b) {
                const quint32 at = was.address + quint32(b);
                if (at >= address && at < address + quint32(width)) {
                    serial[int(at - address)] = b < is.data.size() ? is.data[b] : char(0);
                    ++found;
                }
            }
        }
        if (got[i] == sent[i])
            continue;
        if (got[i].size() != sent[i].size() || !is.sumRight || is.type != 0 || is.address != was.address) {
            *problem = QStringLiteral("line %1 is %2, was %3").arg(i + 1).arg(QString::fromLatin1(got[i]),
                                                                          QString::fromLatin1(sent[i]));
            return {};
        }
        for (int b = 0; b < was.data.size(); ++b) {
            const quint32 at = was.address + quint32(b);
            if (was.data[b] != is.data[b] && (at < address || at >= address + quint32(width))) {
                *problem = QStringLiteral("line %1 changed at 0x%2, outside the serial").arg(i + 1).arg(at, 0, 16);
                return {};
            }
        }
    }
    if (found != width) {
        *problem = QStringLiteral("only %1 of the serial's bytes are in the job").arg(found);
        return {};
    }
    return serial;
}

quint64 littleEndian(const QByteArray &bytes)
{
    quint64 value = 0;
    for (int i = int(bytes.size()) - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes[i]);
    return value;
}

QList<QJsonObject> ofSlot(const QList<QJsonObject> &records, const QString &slot)
{
    QList<QJsonObject> found;
    for (const QJsonObject &record : records)
        if (record.value(QStringLiteral("slot")).toString() == slot)
            found << record;
    return found;
}

bool passed(const QJsonObject &record)
{
    return record.value(QStringLiteral("result")).toString() == QLatin1String("success");
}

quint64 serialOf(const QJsonObject &record)
{
    return quint64(record.value(QStringLiteral("serial")).toDouble());
}

// The sample's first two data records hold 0x00..0x0F and 0x10..0x1F: a
// serial at 0x0E of 4 bytes spans them.
const QString kSpanning = QStringLiteral("pump@0x0E:4:le:100");

} // namespace

class StationSerialsTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;
    QByteArray m_hex = sim::HexRecord::sampleImage(60);
    QString m_firmware = m_folder.write(QStringLiteral("image.hex"), m_hex);
    QString m_database = m_folder.filePath(QStringLiteral("records.sqlite"));

    // Each station keeps its own local records (its spool) in the test's folder.
    QProcessEnvironment environment(const QString &station = QStringLiteral("data")) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.filePath(station));
        return env;
    }
    QStringList arguments(const QList<SimFixture *> &fixtures, const QStringList &more) const
    {
        QStringList list;
        for (SimFixture *fixture : fixtures)
            list << QStringLiteral("--slot") << fixture->link();
        return list + QStringList{QStringLiteral("--json"), QStringLiteral("--records"), m_database} + more
            + QStringList{m_firmware};
    }
    QByteArray recordsOutput(const QStringList &more, int *exitCode = nullptr)
    {
        QProcess list;
        list.setProcessEnvironment(environment());
        list.start(QStringLiteral(QUOBIN_CLI), QStringList{QStringLiteral("records"), QStringLiteral("--records"), m_database} + more);
        list.waitForFinished(10000);
        if (exitCode)
            *exitCode = list.exitCode();
        return list.readAllStandardOutput() + list.readAllStandardError();
    }

    QList<quint64> returnedNumbers(const QString &series)
    {
        QList<quint64> numbers;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("returned"));
            db.setDatabaseName(m_database);
            if (db.open()) {
                QSqlQuery q(db);
                q.prepare(QStringLiteral("SELECT serial FROM serial_returned WHERE series = ? ORDER BY serial"));
                q.addBindValue(series);
                q.exec();
                while (q.next())
                    numbers << quint64(q.value(0).toLongLong());
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("returned"));
        return numbers;
    }

private slots:
    void cleanup()
    {
        for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(m_database + suffix);
    }

    // Three slots, four boards each, board 2 of b failing after the serial's
    // lines went out: every passing board received the job with exactly the
    // serial's 4 bytes changed (across two records, their checksums right),
    // the passes carry different numbers, and the failed board's number went
    // to a later board. A slot holds its next number while it waits for a
    // board; the numbers still held when the run ends go back to the series,
    // so that the passes and the numbers given back are consecutive, and the
    // next run starts with the lowest given back.
    void threeSlotsFlashConsecutiveSerials()
    {
        const QStringList options{QStringLiteral("--fixture"), QStringLiteral("300"), QStringLiteral("--boards"),
                                  QStringLiteral("4")};
        SimFixture a(m_folder.path(), QStringLiteral("a"), options);
        SimFixture b(m_folder.path(), QStringLiteral("b"), options + QStringList{QStringLiteral("--fault"), QStringLiteral("flash:30@2")});
        SimFixture c(m_folder.path(), QStringLiteral("c"), options);
        QVERIFY(a.ready() && b.ready() && c.ready());

        StationRun station(environment());
        station.start(arguments({&a, &b, &c}, {QStringLiteral("--count"), QStringLiteral("11"), QStringLiteral("--serial"), kSpanning}));
        QCOMPARE(station.finish(60000), 0);

        const QList<QJsonObject> records = station.records();
        QCOMPARE(records.size(), 12);
        QList<quint64> passes;
        std::optional<quint64> failedWith;
        for (const QJsonObject &record : records) {
            QCOMPARE(record.value(QStringLiteral("series")).toString(), QStringLiteral("pump"));
            QVERIFY(record.value(QStringLiteral("serial")).isDouble());
            if (passed(record))
                passes << serialOf(record);
            else
                failedWith = serialOf(record);
        }
        const QList<quint64> givenBack = returnedNumbers(QStringLiteral("pump"));
        QVERIFY(givenBack.size() <= 2); // the slots that ended waiting
        QList<quint64> all = passes + givenBack;
        std::sort(all.begin(), all.end());
        QList<quint64> expected;
        for (quint64 n = 100; n < 100 + quint64(all.size()); ++n)
            expected << n;
        QCOMPARE(all, expected);
        QCOMPARE(passes.size(), 11);
        QVERIFY(failedWith.has_value());
        QVERIFY(passes.contains(*failedWith));

        for (SimFixture *fixture : {&a, &b, &c}) {
            QVERIFY(waitFor([&] { return fixture->count("boards") == 4; }, kSoonMsecs));
            const QList<QJsonObject> mine = ofSlot(records, fixture->link());
            QCOMPARE(mine.size(), 4);
            for (int board = 1; board <= 4; ++board) {
                if (!passed(mine[board - 1]))
                    continue;
                QString problem;
                const QByteArray serial = serialBytesIn(fixture->image(board), m_hex, 0x0E, 4, &problem);
                QVERIFY2(!serial.isEmpty(), qPrintable(problem));
                QCOMPARE(littleEndian(serial), serialOf(mine[board - 1]));
            }
        }
        // The station showed the numbers while it ran.
        const QList<QJsonObject> shown = station.events(QStringLiteral("serial"));
        QVERIFY(!shown.isEmpty());
        QCOMPARE(shown.first().value(QStringLiteral("series")).toString(), QStringLiteral("pump"));
        QVERIFY(shown.first().value(QStringLiteral("serial")).toDouble() >= 100);
    }

    // One slot: a board that fails after its serial was sent is recorded
    // with that number, and the next board gets the same number. records
    // --serial shows both boards.
    void aFailedBoardsNumberGoesToTheNextBoard()
    {
        SimFixture fixture(m_folder.path(), QStringLiteral("one"),
                           {QStringLiteral("--fixture"), QStringLiteral("200"), QStringLiteral("--boards"), QStringLiteral("3"),
                            QStringLiteral("--fault"), QStringLiteral("flash:30@2")});
        QVERIFY(fixture.ready());
        StationRun station(environment());
        station.start(arguments({&fixture}, {QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--serial"), kSpanning}));
        QCOMPARE(station.finish(60000), 0);

        const QList<QJsonObject> records = station.records();
        QCOMPARE(records.size(), 3);
        QVERIFY(passed(records[0]) && !passed(records[1]) && passed(records[2]));
        QCOMPARE(serialOf(records[0]), quint64(100));
        QCOMPARE(serialOf(records[1]), quint64(101));
        QCOMPARE(serialOf(records[2]), quint64(101));
        QString problem;
        QCOMPARE(littleEndian(serialBytesIn(fixture.image(3), m_hex, 0x0E, 4, &problem)), quint64(101));

        int code = -1;
        const QString history = QString::fromUtf8(recordsOutput({QStringLiteral("--serial"), QStringLiteral("101")}, &code));
        QCOMPARE(code, 0);
        QCOMPARE(history.count(QStringLiteral("serial pump 101")), 2);
        QVERIFY(history.contains(QStringLiteral("stopped")));
        QVERIFY(!history.contains(QStringLiteral("serial pump 100")));
        const QString none = QString::fromUtf8(recordsOutput({QStringLiteral("--serial"), QStringLiteral("7")}));
        QVERIFY2(none.contains(QStringLiteral("No board was sent serial number 7.")), qPrintable(none));

        // --json and --csv carry both fields.
        const QString csv = QString::fromUtf8(recordsOutput({QStringLiteral("--csv")}));
        QVERIFY(csv.section(QLatin1Char('\n'), 0, 0).endsWith(QStringLiteral(",series,serial,serial_sent,job,job_version,board_id,reflash\r")));
        QVERIFY(csv.contains(QStringLiteral(",pump,101,yes,,,,\r\n")));
        const QString json = QString::fromUtf8(recordsOutput({QStringLiteral("--json"), QStringLiteral("--serial"), QStringLiteral("100")}));
        QVERIFY2(json.contains(QStringLiteral("\"serial\":100")) && json.contains(QStringLiteral("\"series\":\"pump\"")),
                 qPrintable(json));
    }

    // The adapter is pulled out during a board, after its serial's lines
    // went out: that board is recorded with its number, and the board on the
    // adapter plugged in again gets the same number; its answers come in
    // pieces.
    void aPulledAdapterGivesItsNumberToTheNextBoard()
    {
        auto first = std::make_unique<SimFixture>(
            m_folder.path(), QStringLiteral("usb"),
            QStringList{QStringLiteral("--fixture"), QStringLiteral("200"), QStringLiteral("--fault"), QStringLiteral("vanish:40@2")});
        QVERIFY(first->ready());
        StationRun station(environment());
        station.start(arguments({first.get()}, {QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--serial"), kSpanning}));
        QVERIFY(waitFor([&] { return station.records().size() == 2; }, kBoardMsecs));
        QCOMPARE(station.records().at(1).value(QStringLiteral("result")).toString(), QStringLiteral("transfer-error"));
        QCOMPARE(serialOf(station.records().at(1)), quint64(101));
        first.reset();

        SimFixture second(m_folder.path(), QStringLiteral("usb"),
                          {QStringLiteral("--fixture"), QStringLiteral("200"), QStringLiteral("--fault"), QStringLiteral("split:2"),
                           QStringLiteral("--fault"), QStringLiteral("split-reply")});
        QVERIFY(second.ready());
        QCOMPARE(station.finish(kBoardMsecs), 0);
        const QList<QJsonObject> records = station.records();
        QCOMPARE(records.size(), 3);
        QVERIFY(passed(records[2]));
        QCOMPARE(serialOf(records[2]), quint64(101));
        QString problem;
        QCOMPARE(littleEndian(serialBytesIn(second.image(1), m_hex, 0x0E, 4, &problem)), quint64(101));
    }

    // An address outside the image's data: exit 2 with its address named,
    // before the slot's port is opened.
    void aSerialWithoutRoomIsRefusedBeforeAnyPort()
    {
        SimFixture fixture(m_folder.path(), QStringLiteral("room"), {QStringLiteral("--fixture"), QStringLiteral("100")});
        QVERIFY(fixture.ready());
        StationRun station(environment());
        station.start(arguments({&fixture}, {QStringLiteral("--serial"), QStringLiteral("pump@0x3FE:4:le")}));
        QCOMPARE(station.finish(kBoardMsecs), 2);
        const QString errors = QString::fromUtf8(station.errors());
        QVERIFY2(errors.contains(QStringLiteral("0x000003FE")), qPrintable(errors));
        QTest::qWait(300);
        QCOMPARE(fixture.count("mainCodeCommands"), 0);
        QVERIFY(!QFile::exists(m_database));
    }

    // A series at its width's end: the last number is flashed, then the
    // station stops with a clear message; started again, it stops before
    // the first board. Nothing wraps around to 0.
    void aSeriesAtItsEndStops()
    {
        SimFixture fixture(m_folder.path(), QStringLiteral("end"),
                           {QStringLiteral("--fixture"), QStringLiteral("200"), QStringLiteral("--boards"), QStringLiteral("5")});
        QVERIFY(fixture.ready());
        const QString format = QStringLiteral("tiny@0x0E:1:le:254");
        const QString stop = QStringLiteral("series tiny has no serial number left: 255 is its last");
        {
            StationRun station(environment());
            station.start(arguments({&fixture}, {QStringLiteral("--serial"), format}));
            QCOMPARE(station.finish(60000), 1);
            QVERIFY2(QString::fromUtf8(station.errors()).contains(stop), station.errors().constData());
            const QList<QJsonObject> records = station.records();
            QCOMPARE(records.size(), 2);
            QCOMPARE(serialOf(records[0]), quint64(254));
            QCOMPARE(serialOf(records[1]), quint64(255));
            QString problem;
            QCOMPARE(serialBytesIn(fixture.image(2), m_hex, 0x0E, 1, &problem), QByteArray(1, char(0xFF)));
        }
        const int uploads = fixture.count("uploads");
        StationRun again(environment());
        again.start(arguments({&fixture}, {QStringLiteral("--serial"), format}));
        QCOMPARE(again.finish(kBoardMsecs), 1);
        QVERIFY2(QString::fromUtf8(again.errors()).contains(stop), again.errors().constData());
        QCOMPARE(fixture.count("uploads"), uploads);
    }

    // Numbers given back by earlier runs that today's format does not
    // have (below FIRST, off the step, too wide for the width) stay where
    // they are and are not flashed; the station neither aborts nor loses
    // them, and flashes the one that fits first.
    void givenBackNumbersOutsideTheFormatWait()
    {
        records::openRecordStore(m_database).reset();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("give"));
            db.setDatabaseName(m_database);
            QVERIFY(db.open());
            QSqlQuery q(db);
            for (const char *number : {"1", "1003", "1002", "5000000000"})
                QVERIFY(q.exec(QStringLiteral("INSERT INTO serial_returned VALUES ('pump', %1)").arg(QLatin1String(number))));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("give"));
        SimFixture fixture(m_folder.path(), QStringLiteral("given"),
                           {QStringLiteral("--fixture"), QStringLiteral("200"), QStringLiteral("--boards"), QStringLiteral("2")});
        QVERIFY(fixture.ready());
        StationRun station(environment());
        station.start(arguments({&fixture}, {QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--serial"),
                                             QStringLiteral("pump@0x0E:4:le:1000:2")}));
        QCOMPARE(station.finish(60000), 0);
        const QList<QJsonObject> records = station.records();
        QCOMPARE(records.size(), 2);
        QCOMPARE(serialOf(records[0]), quint64(1002));
        QCOMPARE(serialOf(records[1]), quint64(1000));
        const QList<quint64> waiting = returnedNumbers(QStringLiteral("pump"));
        for (quint64 number : {quint64(1), quint64(1003), quint64(5000000000)})
            QVERIFY2(waiting.contains(number), qPrintable(QString::number(number)));
        QVERIFY(!waiting.contains(1002));
    }

    // The end of what the records keep, and of a series counted by 2: the
    // last numbers are flashed, then the run stops naming the series' own
    // last number. A first number past what the records keep is refused at
    // the format, before any port.
    void theLastNumbersOfTheRecordsAndOfAStep_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QList<quint64>>("flashed");
        QTest::addColumn<QString>("stop");
        QTest::newRow("4 bytes by 2") << QStringLiteral("s@0x0E:4:le:0xFFFFFFFC:2")
                                      << QList<quint64>{4294967292, 4294967294}
                                      << QStringLiteral("series s has no serial number left: 4294967294 is its last");
        QTest::newRow("8 bytes, 2^63 - 1") << QStringLiteral("l@0x0E:8:le:9223372036854775806")
                                           << QList<quint64>{9223372036854775806ull, 9223372036854775807ull}
                                           << QStringLiteral("series l has no serial number left: 9223372036854775807 is its last");
    }
    void theLastNumbersOfTheRecordsAndOfAStep()
    {
        QFETCH(QString, format);
        QFETCH(QList<quint64>, flashed);
        QFETCH(QString, stop);
        SimFixture fixture(m_folder.path(), QStringLiteral("last"),
                           {QStringLiteral("--fixture"), QStringLiteral("200"), QStringLiteral("--boards"), QStringLiteral("3")});
        QVERIFY(fixture.ready());
        StationRun station(environment());
        station.start(arguments({&fixture}, {QStringLiteral("--serial"), format}));
        QCOMPARE(station.finish(60000), 1);
        QVERIFY2(QString::fromUtf8(station.errors()).contains(stop), station.errors().constData());
        const QList<QJsonObject> records = station.records();
        QCOMPARE(records.size(), flashed.size());
        for (int i = 0; i < flashed.size(); ++i) {
            const QJsonValue serial = records[i].value(QStringLiteral("serial"));
            QCOMPARE(serial.isString() ? serial.toString().toULongLong() : quint64(serial.toDouble()), flashed[i]);
            QString problem;
            const int width = format.contains(QStringLiteral(":8:")) ? 8 : 4;
            QCOMPARE(littleEndian(serialBytesIn(fixture.image(i + 1), m_hex, 0x0E, width, &problem)), flashed[i]);
        }
    }
    void aFirstNumberPastTheRecordsIsRefused()
    {
        SimFixture fixture(m_folder.path(), QStringLiteral("past"), {QStringLiteral("--fixture"), QStringLiteral("100")});
        QVERIFY(fixture.ready());
        StationRun station(environment());
        station.start(arguments({&fixture}, {QStringLiteral("--serial"), QStringLiteral("l@0x0E:8:le:0xFEDCBA9876543210")}));
        QCOMPARE(station.finish(kBoardMsecs), 2);
        QVERIFY2(QString::fromUtf8(station.errors())
                     .contains(QStringLiteral("first number 18364758544493064720 is past 9223372036854775807, the largest "
                                              "serial number the records keep")),
                 station.errors().constData());
        QCOMPARE(fixture.count("mainCodeCommands"), 0);
    }

    // The gap report counts by the series' own step, which the counter
    // keeps, and a number given back is no gap: five boards by 2, then two
    // of their numbers lost and waiting (as a killed station and one that
    // gave its numbers back leave them).
    void gapsAreCountedByTheSeriesStep()
    {
        SimFixture fixture(m_folder.path(), QStringLiteral("gaps"),
                           {QStringLiteral("--fixture"), QStringLiteral("200"), QStringLiteral("--boards"), QStringLiteral("5")});
        QVERIFY(fixture.ready());
        StationRun station(environment());
        station.start(arguments({&fixture}, {QStringLiteral("--count"), QStringLiteral("5"), QStringLiteral("--serial"),
                                             QStringLiteral("g@0x0E:4:le:1:2")}));
        QCOMPARE(station.finish(60000), 0);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lose"));
            db.setDatabaseName(m_database);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("DELETE FROM board_records WHERE serial IN (3, 7)")));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO serial_returned VALUES ('g', 7)")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("lose"));
        const QString text = QString::fromUtf8(recordsOutput({}));
        QVERIFY2(text.contains(QStringLiteral("series g: 3 passed, serials 1 to 9 by 2, 1 given back waiting to be used,"
                                              " 1 not used (gaps: 3)\n")),
                 qPrintable(text));
        const QList<QByteArray> lines = recordsOutput({QStringLiteral("--json")}).trimmed().split('\n');
        const QJsonObject last = QJsonDocument::fromJson(lines.last()).object();
        QCOMPARE(last.value(QStringLiteral("schema")).toInt(), 1);
        const QJsonObject series = last.value(QStringLiteral("series")).toArray().at(0).toObject();
        QCOMPARE(series.value(QStringLiteral("lowest")), QJsonValue(1));
        QCOMPARE(series.value(QStringLiteral("highest")), QJsonValue(9));
        QCOMPARE(series.value(QStringLiteral("step")), QJsonValue(2));
        QCOMPARE(series.value(QStringLiteral("stepKnown")), QJsonValue(true));
        QCOMPARE(series.value(QStringLiteral("unused")), QJsonValue(1));
        QCOMPARE(series.value(QStringLiteral("waiting")), QJsonValue(1));
        const QJsonObject gap = series.value(QStringLiteral("gaps")).toArray().at(0).toObject();
        QCOMPARE(gap, QJsonObject({{"first", 3}, {"last", 3}, {"count", 1}}));
        for (const QByteArray &line : lines)
            QCOMPARE(QJsonDocument::fromJson(line).object().value(QStringLiteral("schema")), QJsonValue(1));
    }

    // A board that stopped before the lines that hold its serial is
    // recorded with the number, and with its lines not sent; the next
    // board, which took them, with them sent. records --serial says so.
    void aRecordSaysWhetherItsSerialWentOut()
    {
        SimFixture fixture(m_folder.path(), QStringLiteral("sent"),
                           {QStringLiteral("--fixture"), QStringLiteral("200"), QStringLiteral("--boards"), QStringLiteral("2"),
                            QStringLiteral("--fault"), QStringLiteral("flash:10@1")});
        QVERIFY(fixture.ready());
        StationRun station(environment());
        // Data record 50 of the sample: its line 50.
        station.start(arguments({&fixture}, {QStringLiteral("--count"), QStringLiteral("1"), QStringLiteral("--serial"),
                                             QStringLiteral("late@0x314:4:le:2")}));
        QCOMPARE(station.finish(60000), 0);
        const QList<QJsonObject> records = station.records();
        QCOMPARE(records.size(), 2);
        QVERIFY(!passed(records[0]) && passed(records[1]));
        QCOMPARE(records[0].value(QStringLiteral("serialSent")), QJsonValue(false));
        QCOMPARE(records[1].value(QStringLiteral("serialSent")), QJsonValue(true));
        const QString history = QString::fromUtf8(recordsOutput({QStringLiteral("--serial"), QStringLiteral("2"),
                                                                 QStringLiteral("--series"), QStringLiteral("late")}));
        QCOMPARE(history.count(QStringLiteral("serial late 2 (not sent)")), 1);
        QCOMPARE(history.count(QStringLiteral("serial late 2")), 2);
        const QString other = QString::fromUtf8(recordsOutput({QStringLiteral("--serial"), QStringLiteral("2"),
                                                               QStringLiteral("--series"), QStringLiteral("pump")}));
        QVERIFY2(other.contains(QStringLiteral("No board of series pump was sent serial number 2.")), qPrintable(other));
        // The station shows a number as a slot's last only after its
        // record, and every event carries its schema.
        bool recordSeen = false;
        for (const QJsonObject &event : station.events()) {
            QCOMPARE(event.value(QStringLiteral("schema")), QJsonValue(1));
            if (event.value(QStringLiteral("event")) == QJsonValue(QStringLiteral("record")) && passed(event.value(QStringLiteral("record")).toObject()))
                recordSeen = true;
            if (event.value(QStringLiteral("event")) == QJsonValue(QStringLiteral("serial"))
                && event.value(QStringLiteral("last")) == QJsonValue(2))
                QVERIFY(recordSeen);
        }
    }

    void encodingsAndSteps_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::newRow("ascii by 2") << QStringLiteral("sn@0x0E:6:ascii:41:2") << QByteArray("000041") << QByteArray("000043");
        QTest::newRow("big-endian by 2") << QStringLiteral("sn@0x0E:4:be:0x01020304:2")
                                         << QByteArray::fromHex("01020304") << QByteArray::fromHex("01020306");
        QTest::newRow("little-endian across 0xFF") << QStringLiteral("sn@0x0F:2:le:255")
                                                   << QByteArray::fromHex("ff00") << QByteArray::fromHex("0001");
    }
    void encodingsAndSteps()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        SimFixture fixture(m_folder.path(), QStringLiteral("enc"),
                           {QStringLiteral("--fixture"), QStringLiteral("200"), QStringLiteral("--boards"), QStringLiteral("2")});
        QVERIFY(fixture.ready());
        StationRun station(environment());
        station.start(arguments({&fixture}, {QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--serial"), format}));
        QCOMPARE(station.finish(60000), 0);
        const quint32 address = format.contains(QStringLiteral("0x0F")) ? 0x0F : 0x0E;
        QString problem;
        const QByteArray one = serialBytesIn(fixture.image(1), m_hex, address, int(first.size()), &problem);
        QVERIFY2(!one.isEmpty(), qPrintable(problem));
        QCOMPARE(one, first);
        QCOMPARE(serialBytesIn(fixture.image(2), m_hex, address, int(second.size()), &problem), second);
    }

    // A records file of schema version 1, as the previous Quobin wrote it:
    // records lists it as it is, without changing a byte; a station upgrades
    // it in place, and its old record is still listed beside the new ones.
    void anOldDatabaseIsReadThenUpgraded()
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
            db.setDatabaseName(m_database);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("CREATE TABLE quobin_schema (name VARCHAR(32) NOT NULL PRIMARY KEY, version INTEGER NOT NULL)")));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO quobin_schema VALUES ('records', 1)")));
            QVERIFY(q.exec(QStringLiteral(
                "CREATE TABLE board_records (id VARCHAR(36) NOT NULL, station TEXT NOT NULL, slot TEXT NOT NULL,"
                " device TEXT NOT NULL, usb_serial TEXT NOT NULL, by_id_name TEXT NOT NULL, job_sha256 TEXT NOT NULL,"
                " job_file TEXT NOT NULL, started TEXT NOT NULL, ended TEXT NOT NULL, seconds DOUBLE PRECISION NOT NULL,"
                " bootloader_version DOUBLE PRECISION NOT NULL, result TEXT NOT NULL, message TEXT NOT NULL,"
                " detail TEXT NOT NULL, lines_sent INTEGER NOT NULL, resends INTEGER NOT NULL, questions TEXT NOT NULL,"
                " quobin_version TEXT NOT NULL, log_path TEXT NOT NULL, PRIMARY KEY (id))")));
            QVERIFY(q.exec(QStringLiteral(
                "INSERT INTO board_records VALUES ('6f1c0f7e-8d7a-4d55-9d3c-0c6a1f1f0a01', 'old-bench', 'Com 2',"
                " '/dev/ttyS1', '', '', 'ab', 'old.hex', '2026-01-05T10:00:00.000Z', '2026-01-05T10:01:00.000Z',"
                " 60, 1.28, 'success', 'Update File successfully uploaded.', '', 100, 0, '[]', '1.0', '')")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("old"));
        const QByteArray before = [&] { QFile f(m_database); f.open(QIODevice::ReadOnly); return f.readAll(); }();

        int code = -1;
        QString listed = QString::fromUtf8(recordsOutput({}, &code));
        QCOMPARE(code, 0);
        QVERIFY2(listed.contains(QStringLiteral("old-bench")), qPrintable(listed));
        QFile file(m_database);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        file.close();

        SimFixture fixture(m_folder.path(), QStringLiteral("up"), {QStringLiteral("--fixture"), QStringLiteral("200")});
        QVERIFY(fixture.ready());
        StationRun station(environment());
        station.start(arguments({&fixture}, {QStringLiteral("--count"), QStringLiteral("1"), QStringLiteral("--serial"), kSpanning}));
        QCOMPARE(station.finish(60000), 0);

        listed = QString::fromUtf8(recordsOutput({}, &code));
        QCOMPARE(code, 0);
        QVERIFY2(listed.contains(QStringLiteral("old-bench")), qPrintable(listed));
        QVERIFY2(listed.contains(QStringLiteral("serial pump 100")), qPrintable(listed));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            db.setDatabaseName(m_database);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("SELECT version FROM quobin_schema WHERE name = 'records'")) && q.next());
            QCOMPARE(q.value(0).toInt(), 5);
            // One passed board per number of a series, whatever writes it.
            QVERIFY(!q.exec(QStringLiteral(
                "INSERT INTO board_records SELECT 'x', station, slot, device, usb_serial, by_id_name, job_sha256,"
                " job_file, started, ended, seconds, bootloader_version, result, message, detail, lines_sent, resends,"
                " questions, quobin_version, log_path, series, serial, serial_sent FROM board_records WHERE serial = 100")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }

    // Two stations of a line on one PostgreSQL database, the same series,
    // ten boards each at once: twenty different numbers, and the unique
    // index on the server holds.
    void twoStationsShareTheSeries()
    {
        PostgresServer server;
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY2(server.createDatabase(QStringLiteral("line")), qPrintable(server.problem()));
        const QStringList options{QStringLiteral("--fixture"), QStringLiteral("100"), QStringLiteral("--boards"), QStringLiteral("10")};
        SimFixture one(m_folder.path(), QStringLiteral("line1"), options);
        SimFixture two(m_folder.path(), QStringLiteral("line2"), options);
        QVERIFY(one.ready() && two.ready());
        StationRun first(environment(QStringLiteral("station1")));
        StationRun second(environment(QStringLiteral("station2")));
        for (auto [run, fixture] : {std::pair{&first, &one}, std::pair{&second, &two}})
            run->start({QStringLiteral("--slot"), fixture->link(), QStringLiteral("--count"), QStringLiteral("10"),
                        QStringLiteral("--records"), server.socketUrl(QStringLiteral("line")), QStringLiteral("--serial"),
                        kSpanning, m_firmware});
        QCOMPARE(first.finish(60000), 0);
        QVERIFY2(second.finish(60000) == 0, second.errors().right(2000).constData());

        QString counted;
        QVERIFY2(server.psql(QStringLiteral("line"), QStringLiteral("SELECT count(*), count(DISTINCT serial), min(serial)"
                                                                   " FROM board_records WHERE result = 'success'"), &counted),
                 qPrintable(server.problem()));
        QCOMPARE(counted, QStringLiteral("20|20|100"));
        // What the boards received is what their records say.
        for (SimFixture *fixture : {&one, &two}) {
            QString serials;
            QVERIFY(server.psql(QStringLiteral("line"), QStringLiteral("SELECT string_agg(serial::text, ',' ORDER BY started)"
                                                                      " FROM board_records WHERE slot = '%1'").arg(fixture->link()), &serials));
            const QStringList numbers = serials.split(QLatin1Char(','));
            QCOMPARE(numbers.size(), 10);
            for (int board = 1; board <= 10; ++board) {
                QString problem;
                QCOMPARE(littleEndian(serialBytesIn(fixture->image(board), m_hex, 0x0E, 4, &problem)),
                         numbers[board - 1].toULongLong());
            }
        }
        QVERIFY(!server.psql(QStringLiteral("line"),
                             QStringLiteral("INSERT INTO board_records SELECT 'dup', station, slot, device, usb_serial,"
                                            " by_id_name, job_sha256, job_file, started, ended, seconds, bootloader_version,"
                                            " result, message, detail, lines_sent, resends, questions, quobin_version,"
                                            " log_path, series, serial, serial_sent FROM board_records WHERE serial = 100"), &counted));
    }

    // The server stops in the middle of a run: the slot goes on with the
    // numbers it reserved, then waits and says why; the server comes back
    // and the run goes on. No number is given twice.
    void reservedNumbersCarryARunWhileTheServerIsAway()
    {
        PostgresServer server;
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY2(server.createDatabase(QStringLiteral("line")), qPrintable(server.problem()));
        SimFixture fixture(m_folder.path(), QStringLiteral("away"), {QStringLiteral("--fixture"), QStringLiteral("100")});
        QVERIFY(fixture.ready());
        StationRun station(environment(QStringLiteral("away-station")));
        station.start({QStringLiteral("--slot"), fixture.link(), QStringLiteral("--count"), QStringLiteral("26"),
                       QStringLiteral("--records"), server.socketUrl(QStringLiteral("line")), QStringLiteral("--serial"),
                       kSpanning, m_firmware});
        const auto passes = [&] { return int(station.output().count("PASS success")); };
        QVERIFY2(waitFor([&] { return passes() >= 2; }, kBoardMsecs), station.output().right(1500) + station.errors());
        QVERIFY2(server.stop(), qPrintable(server.problem()));
        QVERIFY2(waitFor([&] { return station.output().contains(": no serial numbers: the records server is away\n"); }, 60000),
                 station.output().right(1500).constData());
        const int passesWhileAway = passes();
        QVERIFY2(passesWhileAway >= 18 && passesWhileAway < 26, qPrintable(QString::number(passesWhileAway)));
        QTest::qWait(1500);
        QCOMPARE(passes(), passesWhileAway); // it waits: no number is made up
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QCOMPARE(station.finish(60000), 0);

        QString counted;
        QVERIFY2(server.psql(QStringLiteral("line"), QStringLiteral("SELECT count(*), count(DISTINCT serial)"
                                                                   " FROM board_records WHERE result = 'success'"), &counted),
                 qPrintable(server.problem()));
        QCOMPARE(counted, QStringLiteral("26|26"));
    }

    // The README's rights, exactly as written there, on a server whose
    // tables an administrator keeps: two stations of the line, users that
    // own nothing, take numbers, flash and give numbers back; a user that
    // only reads lists the records, and the numbers given back are waiting,
    // not gaps.
    void theDocumentedRightsAreEnough()
    {
        const QString grants = readmeBlock(QStringLiteral(QUOBIN_README), QStringLiteral("grants"));
        QVERIFY(!grants.isEmpty());
        QVERIFY2(grants.contains(QStringLiteral("TO line")), qPrintable(grants));

        PostgresServer server;
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY2(server.createDatabase(QStringLiteral("kept")), qPrintable(server.problem()));
        const QString ownerUrl = server.socketUrl(QStringLiteral("kept"));
        QProcess make;
        make.setProcessEnvironment(environment(QStringLiteral("admin")));
        make.start(QStringLiteral(QUOBIN_CLI), {QStringLiteral("records"), QStringLiteral("--records"), ownerUrl});
        QVERIFY(make.waitForFinished(30000) && make.exitCode() == 0);
        QString out;
        QVERIFY2(server.psql(QStringLiteral("kept"), QStringLiteral("CREATE ROLE line LOGIN; CREATE ROLE office LOGIN;") + grants, &out),
                 qPrintable(server.problem()));
        const auto as = [&](const char *user) {
            QString url = ownerUrl;
            return url.replace(QStringLiteral("postgresql://quobin@"), QStringLiteral("postgresql://%1@").arg(QLatin1String(user)));
        };

        const QStringList options{QStringLiteral("--fixture"), QStringLiteral("200")};
        SimFixture one(m_folder.path(), QStringLiteral("kept1"), options);
        SimFixture two(m_folder.path(), QStringLiteral("kept2"), options);
        QVERIFY(one.ready() && two.ready());
        // The first station reserves its numbers, the second the next
        // ones; the first ends cleanly after the second and gives its
        // unused numbers back, below the second's.
        StationRun first(environment(QStringLiteral("kept-a")));
        first.start({QStringLiteral("--json"), QStringLiteral("--slot"), one.link(), QStringLiteral("--records"), as("line"),
                     QStringLiteral("--serial"), kSpanning, m_firmware});
        QVERIFY2(waitFor([&] { return !first.records().isEmpty(); }, 30000), first.errors().constData());
        StationRun second(environment(QStringLiteral("kept-b")));
        second.start({QStringLiteral("--slot"), two.link(), QStringLiteral("--count"), QStringLiteral("2"),
                      QStringLiteral("--records"), as("line"), QStringLiteral("--serial"), kSpanning, m_firmware});
        QCOMPARE(second.finish(60000), 0);
        first.signal(SIGTERM);
        QCOMPARE(first.finish(kBoardMsecs), 130);
        // The live view is written with the same rights.
        QVERIFY2(!first.output().contains("live view is not written"), first.output().right(2000).constData());

        QProcess list;
        list.setProcessEnvironment(environment(QStringLiteral("office")));
        list.start(QStringLiteral(QUOBIN_CLI), {QStringLiteral("records"), QStringLiteral("--records"), as("office")});
        QVERIFY(list.waitForFinished(30000));
        const QString listed = QString::fromUtf8(list.readAllStandardOutput() + list.readAllStandardError());
        QCOMPARE(list.exitCode(), 0);
        QVERIFY2(listed.contains(QStringLiteral(" given back waiting to be used, no gaps\n")), qPrintable(listed));
        QVERIFY2(server.psql(QStringLiteral("kept"), QStringLiteral("SELECT count(*) FROM serial_returned"), &out), qPrintable(server.problem()));
        QVERIFY(out.toInt() >= 18);
    }

    // A line's server of schema version 1: a user that may not alter its
    // tables is told how to upgrade it, and nothing changes; a station run
    // by its owner upgrades it in place, and the old record is still listed.
    void anOldServerIsUpgradedInPlace()
    {
        PostgresServer server;
        QVERIFY2(server.start(), qPrintable(server.problem()));
        QVERIFY2(server.createDatabase(QStringLiteral("old")), qPrintable(server.problem()));
        QString out;
        QVERIFY2(server.psql(QStringLiteral("old"), QStringLiteral(
            "CREATE TABLE quobin_schema (name VARCHAR(32) NOT NULL PRIMARY KEY, version INTEGER NOT NULL);"
            "INSERT INTO quobin_schema VALUES ('records', 1);"
            "CREATE TABLE board_records (id VARCHAR(36) NOT NULL, station TEXT NOT NULL, slot TEXT NOT NULL,"
            " device TEXT NOT NULL, usb_serial TEXT NOT NULL, by_id_name TEXT NOT NULL, job_sha256 TEXT NOT NULL,"
            " job_file TEXT NOT NULL, started TEXT NOT NULL, ended TEXT NOT NULL, seconds DOUBLE PRECISION NOT NULL,"
            " bootloader_version DOUBLE PRECISION NOT NULL, result TEXT NOT NULL, message TEXT NOT NULL,"
            " detail TEXT NOT NULL, lines_sent INTEGER NOT NULL, resends INTEGER NOT NULL, questions TEXT NOT NULL,"
            " quobin_version TEXT NOT NULL, log_path TEXT NOT NULL, PRIMARY KEY (id));"
            "INSERT INTO board_records VALUES ('6f1c0f7e-8d7a-4d55-9d3c-0c6a1f1f0a02', 'old-line', 'Com 4',"
            " '/dev/ttyS3', '', '', 'ab', 'old.hex', '2026-01-05T10:00:00.000Z', '2026-01-05T10:01:00.000Z',"
            " 60, 1.28, 'success', 'Update File successfully uploaded.', '', 100, 0, '[]', '1.0', '');"
            "CREATE ROLE clerk LOGIN; GRANT SELECT, INSERT ON ALL TABLES IN SCHEMA public TO clerk;"), &out),
                 qPrintable(server.problem()));

        SimFixture fixture(m_folder.path(), QStringLiteral("oldline"), {QStringLiteral("--fixture"), QStringLiteral("200")});
        QVERIFY(fixture.ready());
        QString clerkUrl = server.socketUrl(QStringLiteral("old"));
        clerkUrl.replace(QStringLiteral("postgresql://quobin@"), QStringLiteral("postgresql://clerk@"));
        {
            StationRun refused(environment(QStringLiteral("clerk")));
            refused.start({QStringLiteral("--slot"), fixture.link(), QStringLiteral("--count"), QStringLiteral("1"),
                           QStringLiteral("--records"), clerkUrl, QStringLiteral("--serial"), kSpanning, m_firmware});
            QVERIFY(refused.finish(kBoardMsecs) != 0);
            const QString errors = QString::fromUtf8(refused.errors());
            QVERIFY2(errors.contains(QStringLiteral("to upgrade it in place")), qPrintable(errors));
        }
        QVERIFY(server.psql(QStringLiteral("old"), QStringLiteral("SELECT version FROM quobin_schema"), &out));
        QCOMPARE(out, QStringLiteral("1"));

        StationRun station(environment(QStringLiteral("owner")));
        station.start({QStringLiteral("--slot"), fixture.link(), QStringLiteral("--count"), QStringLiteral("1"),
                       QStringLiteral("--records"), server.socketUrl(QStringLiteral("old")), QStringLiteral("--serial"),
                       kSpanning, m_firmware});
        QCOMPARE(station.finish(60000), 0);
        QVERIFY(server.psql(QStringLiteral("old"), QStringLiteral("SELECT version FROM quobin_schema"), &out));
        QCOMPARE(out, QStringLiteral("5"));
        QVERIFY(server.psql(QStringLiteral("old"), QStringLiteral("SELECT station || ':' || coalesce(serial::text, '-')"
                                                                 " FROM board_records ORDER BY started"), &out));
        QCOMPARE(out, QStringLiteral("old-line:-\n") + QSysInfo::machineHostName() + QStringLiteral(":100"));
    }
};

QTEST_GUILESS_MAIN(StationSerialsTest)
#include "tst_station_serials.moc"
