// The firmware check as an upload would meet the file, and `quobin-cli check`.

#include "CliRun.h"
#include "FirmwareCheck.h"
#include "FirmwareImage.h"
#include "HexRecord.h"
#include "TempFiles.h"

#include <QTest>

using namespace quobin;
using namespace quobin::testing;

namespace {

QByteArray image(int records)
{
    return sim::HexRecord::sampleImage(records);
}

// The sample image with line `line` (1-based) replaced.
QByteArray withLine(int records, int line, const QByteArray &text)
{
    QList<QByteArray> lines = image(records).split('\n');
    lines[line - 1] = text + '\r';
    return lines.join('\n');
}

QByteArray record(int line)
{
    return image(line).split('\n')[line - 1].chopped(1);
}

} // namespace

class TestCliCheck : public QObject {
    Q_OBJECT

private slots:
    void reports_data();
    void reports();
    void lineLimit();
    void unreadableFiles();

    void checkCommand_data();
    void checkCommand();

private:
    TempFiles m_files;
};

void TestCliCheck::reports_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("blankLines");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("endRecordLine");
    QTest::addColumn<QList<int>>("problemLines");
    QTest::addColumn<QString>("firstProblem");
    QTest::addColumn<bool>("passed");

    QByteArray badSum = record(2);
    badSum[badSum.size() - 1] = badSum.back() == '0' ? '1' : '0';
    QByteArray lowered = record(2).toLower();

    QTest::newRow("good, CR LF") << image(5) << 6 << 0 << true << 6 << QList<int>{} << QString() << true;
    QTest::newRow("good, lower-case digits") << withLine(5, 2, lowered) << 6 << 0 << true << 6 << QList<int>{} << QString() << true;
    QTest::newRow("good, lone LF") << QByteArray(image(3)).replace("\r\n", "\n") << 4 << 0 << true << 4 << QList<int>{} << QString() << true;
    QTest::newRow("good, lone CR") << QByteArray(image(3)).replace("\r\n", "\r") << 4 << 0 << true << 4 << QList<int>{} << QString() << true;
    QTest::newRow("good, mixed ends, no final end")
        << record(1) + "\r" + record(2) + "\n" + record(3) + "\r\n:00000001FF" << 4 << 0 << true << 4 << QList<int>{} << QString() << true;
    QTest::newRow("blank lines counted, not checked")
        << "\r\n" + record(1) + "\r\n\r\n" + record(2) + "\n\r:00000001FF\r\n" << 6 << 3 << true << 6 << QList<int>{} << QString() << true;
    QTest::newRow("wrong checksum") << withLine(5, 2, badSum) << 6 << 0 << true << 6 << QList<int>{2}
                                    << QStringLiteral("line 2: wrong checksum") << false;
    QTest::newRow("byte count does not match") << withLine(5, 3, ":0500000001020304F1") << 6 << 0 << true << 6 << QList<int>{3}
                                               << QStringLiteral("line 3: the byte count says 5 data bytes, the record holds 4") << false;
    QTest::newRow("not a hex digit") << withLine(5, 4, record(4).replace(9, 1, "G")) << 6 << 0 << true << 6 << QList<int>{4}
                                     << QStringLiteral("line 4: \"G\" at column 10 is not a hex digit") << false;
    QTest::newRow("trailing space") << withLine(5, 1, record(1) + ' ') << 6 << 0 << true << 6 << QList<int>{1}
                                    << QStringLiteral("line 1: byte 0x20 at column 44 is not a hex digit") << false;
    QTest::newRow("odd number of digits") << withLine(5, 5, record(5).chopped(1)) << 6 << 0 << true << 6 << QList<int>{5}
                                          << QStringLiteral("line 5: an odd number of hex digits") << false;
    QTest::newRow("too short") << withLine(5, 5, ":0000") << 6 << 0 << true << 6 << QList<int>{5}
                               << QStringLiteral("line 5: too short for a record") << false;
    QTest::newRow("unknown record type") << withLine(5, 2, ":00000006FA") << 6 << 0 << true << 6 << QList<int>{2}
                                         << QStringLiteral("line 2: unknown record type 0x06") << false;
    QTest::newRow("a line that is no record") << withLine(5, 3, "hello") << 6 << 0 << true << 6 << QList<int>{3}
                                              << QStringLiteral("line 3: not a HEX record") << false;
    QTest::newRow("end-of-file record with data") << withLine(5, 6, ":01000001AA54") << 6 << 0 << true << 0 << QList<int>{6}
                                                   << QStringLiteral("no end-of-file record") << false;
    QTest::newRow("missing end-of-file record") << withLine(5, 6, record(6)) << 6 << 0 << true << 0 << QList<int>{}
                                                << QStringLiteral("no end-of-file record (:00000001FF)") << false;
    QTest::newRow("a record after the end") << image(2) + record(3) + "\r\n" << 4 << 0 << true << 3 << QList<int>{4}
                                            << QStringLiteral("line 4: a record after the end-of-file record of line 3") << false;
    QTest::newRow("problems on several lines")
        << withLine(5, 2, badSum).replace(record(4), ":00") << 6 << 0 << true << 6 << QList<int>{2, 4}
        << QStringLiteral("line 2: wrong checksum") << false;
    QTest::newRow("not HEX is not judged as HEX")
        << QByteArray("\r\nBINARY\x01\x02\r\n:garbage\r\n") << 3 << 1 << false << 0 << QList<int>{} << QString() << true;
    QTest::newRow("empty file") << QByteArray() << 0 << 0 << false << 0 << QList<int>{}
                                << QStringLiteral("nothing to send") << false;
    QTest::newRow("only blank lines") << QByteArray("\r\n\n\r") << 3 << 3 << false << 0 << QList<int>{}
                                      << QStringLiteral("nothing to send") << false;
}

void TestCliCheck::reports()
{
    QFETCH(QByteArray, content);
    QFETCH(int, lines);
    QFETCH(int, blankLines);
    QFETCH(bool, hex);
    QFETCH(int, endRecordLine);
    QFETCH(QList<int>, problemLines);
    QFETCH(QString, firstProblem);
    QFETCH(bool, passed);

    const FirmwareCheckReport report = checkFirmwareFile(m_files.write(content));
    QCOMPARE(report.lines, lines);
    QCOMPARE(report.blankLines, blankLines);
    QCOMPARE(report.hex, hex);
    QCOMPARE(report.hasEndRecord, endRecordLine > 0);
    QCOMPARE(report.endRecordLine, endRecordLine);
    QList<int> got;
    for (const FirmwareProblem &problem : report.problems)
        got << problem.line;
    QCOMPARE(got, problemLines);
    QCOMPARE(report.passed(), passed);
    QCOMPARE(report.failures().isEmpty(), passed);
    if (!firstProblem.isEmpty())
        QVERIFY2(report.failures().first().startsWith(firstProblem), qPrintable(report.failures().join('\n')));
}

// An upload counts lines in 16 bits: 32,767 lines are sent, one more is refused.
void TestCliCheck::lineLimit()
{
    const FirmwareCheckReport atLimit = checkFirmwareFile(m_files.write(image(32766)));
    QCOMPARE(atLimit.lines, 32767);
    QVERIFY(!atLimit.overLimit);
    QVERIFY(atLimit.passed());

    // The extra line is blank: blank lines count too.
    const FirmwareCheckReport over = checkFirmwareFile(m_files.write(image(32766) + "\r\n"));
    QCOMPARE(over.lines, 32768);
    QVERIFY(over.overLimit);
    QVERIFY(!over.passed());
    QCOMPARE(over.failures().first(), QStringLiteral("32,768 lines: an upload counts at most 32,767"));
}

void TestCliCheck::unreadableFiles()
{
    QVERIFY_THROWS_EXCEPTION(FirmwareFileError, checkFirmwareFile(m_files.filePath(QStringLiteral("missing.hex"))));
    QVERIFY_THROWS_EXCEPTION(FirmwareFileError, checkFirmwareFile(m_files.path()));
}

void TestCliCheck::checkCommand_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<QString>("err");

    QByteArray badSum = record(3);
    badSum[badSum.size() - 1] = badSum.back() == '0' ? '1' : '0';
    const QString good = m_files.write(QStringLiteral("good.hex"), image(20));
    const QString bad = m_files.write(QStringLiteral("bad.hex"), withLine(20, 3, badSum));
    const QString bin = m_files.write(QStringLiteral("firmware.bin"), QByteArray("\x7f" "ELF\r\n\r\nrest\r\n"));
    const QString check = QStringLiteral("check");
    // A name that would retitle and clear the operator's terminal.
    const QString hostile = m_files.write(QStringLiteral("job\x1b]0;owned\x07\x1b[2J.hex"), image(20));

    QTest::newRow("good HEX") << QStringList{check, good} << 0
                              << QStringList{QStringLiteral("lines:       21 (no blank lines)"),
                                             QStringLiteral("line limit:  21 of 32,767 (within)"),
                                             QStringLiteral("Intel HEX:   21 records, end-of-file record at line 21"),
                                             QStringLiteral("\npassed\n")}
                              << QString();
    QTest::newRow("wrong checksum") << QStringList{check, bad} << 2
                                    << QStringList{QStringLiteral("problems:\n    line 3: wrong checksum"),
                                                   QStringLiteral("failed: an upload refuses this file")}
                                    << QString();
    QTest::newRow("not HEX") << QStringList{check, bin} << 0
                             << QStringList{QStringLiteral("lines:       3 (1 blank, not sent)"),
                                            QStringLiteral("Intel HEX:   no"), QStringLiteral("\npassed\n")}
                             << QString();
    QTest::newRow("a name with escapes") << QStringList{check, hostile} << 0
                                         << QStringList{QStringLiteral("job\\e]0;owned\\a\\e[2J.hex\n"), QStringLiteral("\npassed\n")}
                                         << QString();
    QTest::newRow("missing file") << QStringList{check, m_files.filePath(QStringLiteral("none.hex"))} << 2 << QStringList{}
                                  << QStringLiteral("none.hex: no such file");
    QTest::newRow("a folder") << QStringList{check, m_files.path()} << 2 << QStringList{}
                              << QStringLiteral("is a folder");
    QTest::newRow("no file named") << QStringList{check} << 2 << QStringList{} << QStringLiteral("Usage:");
    QTest::newRow("two files") << QStringList{check, good, good} << 2 << QStringList{} << QStringLiteral("Usage:");
    QTest::newRow("an option") << QStringList{check, QStringLiteral("--fast"), good} << 2 << QStringList{}
                               << QStringLiteral("Usage:");

    // Where a serial goes: the sample image's bytes 0x0E to 0x11 are B6 C3 in
    // its first record and 07 14 in its second.
    const QString serial = QStringLiteral("--serial");
    QTest::newRow("serial across two records")
        << QStringList{check, serial, QStringLiteral("pump@0x0E:4:le"), good} << 0
        << QStringList{QStringLiteral("Intel HEX:   21 records, end-of-file record at line 21\n"
                                      "  serial:      pump@0x0000000E:4:le:1:1\n"
                                      "  place:       0x0000000E to 0x00000011, 4 bytes in 2 records\n"
                                      "  line 1:      2 bytes at 0x0000000E, data bytes 15 to 16 of the record at 0x00000000\n"
                                      "    ") + QString::fromLatin1(record(1)) + QStringLiteral("\n"
                                      "  line 2:      2 bytes at 0x00000010, data bytes 1 to 2 of the record at 0x00000010\n"
                                      "    ") + QString::fromLatin1(record(2)) + QStringLiteral("\n"
                                      "  now:         B6 C3 07 14, the number 336053174\n"
                                      "  numbers:     1 to 4294967295 in steps of 1: 4294967295 numbers from the first\n"
                                      "passed\n")}
        << QString();
    QTest::newRow("serial big-endian")
        << QStringList{check, serial, QStringLiteral("pump@14:4:be:100:2"), good} << 0
        << QStringList{QStringLiteral("now:         B6 C3 07 14, the number 3066234644\n"),
                       QStringLiteral("numbers:     100 to 4294967294 in steps of 2: 2147483598 numbers from the first\n")}
        << QString();
    const QString ascii = m_files.write(QStringLiteral("ascii.hex"),
                                        sim::HexRecord::make(QByteArray::fromHex("06010000") + "000123") + "\r\n"
                                            + ":00000001FF\r\n");
    QTest::newRow("serial in ASCII")
        << QStringList{check, serial, QStringLiteral("sensor@0x100:6:ascii:1000:2"), ascii} << 0
        << QStringList{QStringLiteral("place:       0x00000100 to 0x00000105, 6 bytes in 1 record\n"
                                      "  line 1:      6 bytes at 0x00000100, data bytes 1 to 6 of the record at 0x00000100\n"),
                       QStringLiteral("now:         30 30 30 31 32 33, the number 123\n"),
                       QStringLiteral("numbers:     1000 to 999998 in steps of 2: 499500 numbers from the first\n")}
        << QString();
    QTest::newRow("bytes that are no ASCII number")
        << QStringList{check, serial, QStringLiteral("sensor@0x0:2:ascii"), good} << 0
        << QStringList{QStringLiteral("now:         00 0D, no number (not 2 decimal digits)\n")} << QString();
    QTest::newRow("serial outside the data")
        << QStringList{check, serial, QStringLiteral("pump@0x0800F000:4:le"), good} << 2
        << QStringList{QStringLiteral("  serial:      pump@0x0800F000:4:le:1:1\n"
                                      "  problem:     address 0x0800F000: the serial's 4 bytes (0x0800F000 to 0x0800F003) "
                                      "lie outside the image's data; the firmware must reserve them in its data records\n"
                                      "failed: the serial has no place in this file\n")}
        << QString();
    QTest::newRow("serial partly past the data")
        << QStringList{check, serial, QStringLiteral("pump@0x13E:4:le"), good} << 2
        << QStringList{QStringLiteral("problem:     address 0x00000140: 2 of the serial's 4 bytes")} << QString();
    QTest::newRow("serial in a file an upload refuses")
        << QStringList{check, serial, QStringLiteral("pump@0:4:le"), bad} << 2
        << QStringList{QStringLiteral("problem:     line 3 cannot be read as a HEX record (its checksum is wrong)"),
                       QStringLiteral("failed: an upload refuses this file")}
        << QString();
    QTest::newRow("serial in a file that is not HEX")
        << QStringList{check, serial, QStringLiteral("pump@0:4:le"), bin} << 2
        << QStringList{QStringLiteral("problem:     not an Intel HEX file")} << QString();
    QTest::newRow("a bad serial description")
        << QStringList{check, serial, QStringLiteral("pump@0x10:9:le"), good} << 2 << QStringList{}
        << QStringLiteral("quobin-cli check: --serial pump@0x10:9:le: width 9: le takes 1 to 8 bytes\nUsage:");
    QTest::newRow("two serials")
        << QStringList{check, serial, QStringLiteral("a@0:1:le"), serial, QStringLiteral("b@0:1:le"), good} << 2
        << QStringList{} << QStringLiteral("quobin-cli check: one --serial only");
    QTest::newRow("serial without a description") << QStringList{check, good, serial} << 2 << QStringList{}
                                                  << QStringLiteral("Usage:");
}

void TestCliCheck::checkCommand()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, out);
    QFETCH(QString, err);

    const CliRun run = runProgram(QStringLiteral(QUOBIN_CLI), arguments);
    QCOMPARE(run.status, status);
    for (const QChar c : run.out + run.err)
        QVERIFY2(c == QLatin1Char('\n') || c.unicode() >= 0x20, qPrintable(run.out + run.err));
    for (const QString &part : out)
        QVERIFY2(run.out.contains(part), qPrintable(run.out));
    if (out.isEmpty())
        QVERIFY2(run.out.isEmpty(), qPrintable(run.out));
    if (!err.isEmpty())
        QVERIFY2(run.err.contains(err), qPrintable(run.err));
    else
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestCliCheck)
#include "tst_cli_check.moc"
