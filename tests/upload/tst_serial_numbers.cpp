// A serial's description, its place in an Intel HEX image and the image
// with other bytes there.

#include "FirmwareCheck.h"
#include "FirmwareImage.h"
#include "SerialPlace.h"
#include "SerialSpec.h"

#include <QMap>
#include <QRandomGenerator>
#include <QTest>

#include <limits>

using namespace quobin;

namespace {

constexpr quint64 kMax64 = std::numeric_limits<quint64>::max();
constexpr quint64 kLargest = quint64(std::numeric_limits<qint64>::max());

// One record of bytes (count, address, type, data), its checksum appended,
// in upper-case hex.
QByteArray record(const QList<int> &bytes)
{
    int sum = 0;
    QByteArray raw;
    for (const int b : bytes) {
        raw.append(char(b));
        sum += b;
    }
    raw.append(char(-sum & 0xff));
    return ':' + raw.toHex().toUpper();
}

QByteArray data(int offset, const QList<int> &bytes)
{
    return record(QList<int>{int(bytes.size()), (offset >> 8) & 0xff, offset & 0xff, 0} + bytes);
}

QByteArray filled(int offset, int count, int first = 0)
{
    QList<int> bytes;
    for (int i = 0; i < count; ++i)
        bytes.append((first + i) & 0xff);
    return data(offset, bytes);
}

QByteArray linear(int upper)
{
    return record({2, 0, 0, 4, (upper >> 8) & 0xff, upper & 0xff});
}

QByteArray segment(int value)
{
    return record({2, 0, 0, 2, (value >> 8) & 0xff, value & 0xff});
}

const QByteArray kEnd = ":00000001FF";

QByteArray file(const QList<QByteArray> &lines, const QByteArray &end = "\r\n")
{
    return lines.join(end) + end;
}

// An independent reading of an image's data: address to byte, as a
// programmer would write the flash. Blank lines and anything after a record
// are skipped; the test's images are well formed.
QMap<quint64, int> memoryOf(const FirmwareImage &image)
{
    QMap<quint64, int> memory;
    quint64 base = 0;
    bool linear = false;
    for (const QByteArray &line : image.lines()) {
        if (line.isEmpty())
            continue;
        const int count = QByteArray::fromHex(line.mid(1, 2)).at(0) & 0xff;
        const QByteArray bytes = QByteArray::fromHex(line.mid(1, 10 + 2 * count));
        const int offset = (quint8(bytes[1]) << 8) | quint8(bytes[2]);
        const int type = quint8(bytes[3]);
        if (type == 1)
            break;
        if (type == 2)
            base = quint64((quint8(bytes[4]) << 8) | quint8(bytes[5])) * 16;
        if (type == 4)
            base = quint64((quint8(bytes[4]) << 8) | quint8(bytes[5])) << 16;
        if (type == 2 || type == 4)
            linear = type == 4;
        if (type != 0)
            continue;
        // A segment's offset wraps within its 64 KiB; a linear address goes on.
        for (int i = 0; i < count; ++i)
            memory[(base + quint64(linear ? offset + i : (offset + i) & 0xffff)) & 0xffffffffu] = quint8(bytes[4 + i]);
    }
    return memory;
}

// The properties every patch keeps: the serial's bytes are where the place
// says, no other byte of the memory changes, every record still sums to 0,
// only touched lines differ and only in hex digits, line ends stay.
void verifyPatch(const FirmwareImage &original, const FirmwareImage &patched, const SerialPlace &place,
                 const QByteArray &serial)
{
    QCOMPARE(place.bytesIn(patched), serial);
    QMap<quint64, int> expected = memoryOf(original);
    for (int i = 0; i < serial.size(); ++i)
        expected[quint64(place.address()) + quint64(i)] = quint8(serial[i]);
    QCOMPARE(memoryOf(patched), expected);

    QSet<int> touched;
    for (const SerialPiece &piece : place.pieces())
        touched.insert(piece.line);
    QCOMPARE(patched.lines().size(), original.lines().size());
    for (int i = 0; i < original.lines().size(); ++i) {
        const QByteArray &before = original.lines()[i];
        const QByteArray &after = patched.lines()[i];
        if (!touched.contains(i)) {
            QCOMPARE(after, before);
            continue;
        }
        QCOMPARE(after.size(), before.size());
        const int count = QByteArray::fromHex(before.mid(1, 2)).at(0) & 0xff;
        const QByteArray bytes = QByteArray::fromHex(after.mid(1, 10 + 2 * count));
        int sum = 0;
        for (const char b : bytes)
            sum += quint8(b);
        QVERIFY2((sum & 0xff) == 0, after.constData());
        // The record's head and whatever follows it are as they were.
        QCOMPARE(after.left(9), before.left(9));
        QCOMPARE(after.mid(11 + 2 * count), before.mid(11 + 2 * count));
    }
    // The bytes are the lines with their own line ends: read again, they
    // give the same lines, and they differ from the original only where the
    // lines do.
    QCOMPARE(FirmwareImage::fromBytes(patched.bytes())->lines(), patched.lines());
    QCOMPARE(patched.bytes().size(), original.bytes().size());
    QCOMPARE(patched.path(), original.path());
    if (patched.bytes() != original.bytes())
        QVERIFY(patched.sha256Hex() != original.sha256Hex());
}

} // namespace

class TestSerialNumbers : public QObject {
    Q_OBJECT

private slots:
    void specs_data();
    void specs();
    void refusedSpecs_data();
    void refusedSpecs();
    void numbersLeft_data();
    void numbersLeft();
    void seriesAtItsEnd();
    void encodings_data();
    void encodings();

    void places_data();
    void places();
    void refusedPlaces_data();
    void refusedPlaces();
    void caseAndTailOfAPatchedLine();
    void randomImagesChangeOnlyTheSerial();
    void replacedLinesKeepTheirLength();
};

void TestSerialNumbers::specs_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("series");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<quint64>("first");
    QTest::addColumn<quint64>("step");
    QTest::addColumn<QString>("full");

    const int le = int(SerialEncoding::LittleEndian);
    const int be = int(SerialEncoding::BigEndian);
    const int ascii = int(SerialEncoding::AsciiDecimal);
    QTest::newRow("short form") << "pump@0x0800F000:4:le" << "pump" << 0x0800F000u << 4 << le << quint64(1) << quint64(1)
                                << "pump@0x0800F000:4:le:1:1";
    QTest::newRow("decimal address, first and step") << "pump@134279168:4:be:100:2" << "pump" << 0x0800F000u << 4 << be
                                                     << quint64(100) << quint64(2) << "pump@0x0800F000:4:be:100:2";
    QTest::newRow("a leading zero is not octal") << "p@010:1:le:010" << "p" << 10u << 1 << le << quint64(10) << quint64(1)
                                                 << "p@0x0000000A:1:le:10:1";
    QTest::newRow("hex first, upper-case encoding") << "A.b-c_9@0X1f:8:ASCII:0x10:3" << "A.b-c_9" << 0x1Fu << 8 << ascii
                                                    << quint64(16) << quint64(3) << "A.b-c_9@0x0000001F:8:ascii:16:3";
    QTest::newRow("first 0") << "z@0:2:le:0" << "z" << 0u << 2 << le << quint64(0) << quint64(1) << "z@0x00000000:2:le:0:1";
    QTest::newRow("last address") << "top@0xFFFFFFFC:4:le" << "top" << 0xFFFFFFFCu << 4 << le << quint64(1) << quint64(1)
                                   << "top@0xFFFFFFFC:4:le:1:1";
    QTest::newRow("widest numbers") << "w@0:20:ascii:9223372036854775807" << "w" << 0u << 20 << ascii << kLargest
                                    << quint64(1) << "w@0x00000000:20:ascii:9223372036854775807:1";
    QTest::newRow("64 bits binary") << "w@0:8:be:0x7FFFFFFFFFFFFFFF:0xFFFFFFFFFFFFFFFF" << "w" << 0u << 8 << be << kLargest
                                    << kMax64 << "w@0x00000000:8:be:9223372036854775807:18446744073709551615";
}

void TestSerialNumbers::specs()
{
    QFETCH(QString, text);
    const SerialSpec format = SerialSpec::parse(text);
    QTEST(format.series, "series");
    QTEST(format.address, "address");
    QTEST(format.width, "width");
    QTEST(int(format.encoding), "encoding");
    QTEST(format.first, "first");
    QTEST(format.step, "step");
    QTEST(format.text(), "full");
    // The full form reads back as the same description.
    QCOMPARE(SerialSpec::parse(format.text()).text(), format.text());
}

void TestSerialNumbers::refusedSpecs_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");

    QTest::newRow("no @") << "pump0x100:4:le"
                          << "no \"@\" after the series name: write SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]], e.g. pump@0x0800F000:4:le";
    QTest::newRow("no series") << "@0x100:4:le"
                               << "no series name before \"@\": write SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]], e.g. pump@0x0800F000:4:le";
    QTest::newRow("space in series") << "pu mp@0x100:4:le" << "series name \"pu mp\": use letters, digits, \".\", \"-\" and \"_\" only";
    QTest::newRow("non-ASCII series") << "pümp@0x100:4:le" << "series name \"pümp\": use letters, digits, \".\", \"-\" and \"_\" only";
    QTest::newRow("long series") << QString(65, QLatin1Char('s')) + "@0:4:le" << "series name of 65 characters: at most 64";
    QTest::newRow("two fields") << "pump@0x100:4" << "2 fields after \"@\": write ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]], e.g. pump@0x0800F000:4:le";
    QTest::newRow("six fields") << "pump@0x100:4:le:1:1:1" << "6 fields after \"@\": write ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]], e.g. pump@0x0800F000:4:le";
    QTest::newRow("no address") << "pump@:4:le" << "no address between the colons";
    QTest::newRow("bad address") << "pump@0x1G:4:le" << "address \"0x1G\" is not a number: write it in decimal or in hex with 0x";
    QTest::newRow("signed address") << "pump@+16:4:le" << "address \"+16\" is not a number: write it in decimal or in hex with 0x";
    QTest::newRow("address past 32 bits") << "pump@0x100000000:4:le" << "address 0x100000000 lies past 0xFFFFFFFF, the last that HEX records reach";
    QTest::newRow("bytes past the last address") << "pump@0xFFFFFFFE:4:le" << "the serial's 4 bytes at 0xFFFFFFFE run past 0xFFFFFFFF, the last address";
    QTest::newRow("no width") << "pump@0x100::le" << "no width between the colons";
    QTest::newRow("width not a number") << "pump@0x100:four:le" << "width \"four\" is not a number of bytes";
    QTest::newRow("width 0") << "pump@0x100:0:le" << "width 0: le takes 1 to 8 bytes";
    QTest::newRow("binary width 9") << "pump@0x100:9:be" << "width 9: be takes 1 to 8 bytes";
    QTest::newRow("ascii width 21") << "pump@0x100:21:ascii" << "width 21: ascii takes 1 to 20 digits";
    QTest::newRow("unknown encoding") << "pump@0x100:4:hex"
                                      << "encoding \"hex\": write le (binary, little-endian), be (binary, big-endian) or ascii (decimal digits padded with zeros)";
    QTest::newRow("first too large for 2 bytes") << "pump@0x100:2:le:65536" << "first number 65536 does not fit in 2 bytes (65535 at most)";
    QTest::newRow("first too large for 1 byte") << "pump@0x100:1:be:256" << "first number 256 does not fit in 1 byte (255 at most)";
    QTest::newRow("first too large for 3 digits") << "pump@0x100:3:ascii:1000" << "first number 1000 does not fit in 3 ASCII digits (999 at most)";
    QTest::newRow("empty first") << "pump@0x100:4:le::2" << "no first number between the colons";
    QTest::newRow("negative first") << "pump@0x100:4:le:-1" << "first number \"-1\" is not a number: write it in decimal or in hex with 0x";
    QTest::newRow("first past what the records keep")
        << "l@0x0800F00F:8:le:0xFEDCBA9876543210"
        << "first number 18364758544493064720 is past 9223372036854775807, the largest serial number the records keep "
           "(SQLite and PostgreSQL keep signed 64-bit integers)";
    QTest::newRow("first past 64 bits") << "pump@0x100:8:le:18446744073709551616" << "first number \"18446744073709551616\" is larger than 64 bits hold";
    QTest::newRow("step 0") << "pump@0x100:4:le:1:0" << "step 0: every board needs a number of its own, so the step is 1 or more";
    QTest::newRow("step with a decimal comma") << "pump@0x100:4:le:1:1,5" << "step \"1,5\" is not a number: write it in decimal or in hex with 0x";
}

void TestSerialNumbers::refusedSpecs()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    try {
        SerialSpec::parse(text);
        QFAIL("taken");
    } catch (const SerialSpecError &error) {
        QCOMPARE(QString::fromStdString(error.what()), message);
    }
}

void TestSerialNumbers::numbersLeft_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<quint64>("next");
    QTest::addColumn<quint64>("left");
    QTest::addColumn<bool>("hasAfter");
    QTest::addColumn<quint64>("after");

    QTest::newRow("1 byte from 1") << "s@0:1:le" << quint64(1) << quint64(255) << true << quint64(2);
    QTest::newRow("1 byte, the last") << "s@0:1:le" << quint64(255) << quint64(1) << false << quint64(0);
    QTest::newRow("1 byte, past the end") << "s@0:1:le" << quint64(256) << quint64(0) << false << quint64(0);
    QTest::newRow("2 digits step 2 from 0") << "s@0:2:ascii:0:2" << quint64(0) << quint64(50) << true << quint64(2);
    QTest::newRow("2 digits step 2 at 96") << "s@0:2:ascii:0:2" << quint64(96) << quint64(2) << true << quint64(98);
    QTest::newRow("2 digits step 2 at 98") << "s@0:2:ascii:0:2" << quint64(98) << quint64(1) << false << quint64(0);
    QTest::newRow("2 digits step 2 at 99") << "s@0:2:ascii:0:2" << quint64(99) << quint64(1) << false << quint64(0);
    QTest::newRow("2 digits past the end") << "s@0:2:ascii:0:2" << quint64(100) << quint64(0) << false << quint64(0);
    QTest::newRow("a step wider than the width") << "s@0:1:le:0:300" << quint64(0) << quint64(1) << false << quint64(0);
    QTest::newRow("8 bytes from 0: all the records keep") << "s@0:8:le:0" << quint64(0) << kLargest + 1 << true << quint64(1);
    QTest::newRow("8 bytes at the end") << "s@0:8:be" << kLargest << quint64(1) << false << quint64(0);
    QTest::newRow("8 bytes past what the records keep") << "s@0:8:be" << kLargest + 1 << quint64(0) << false << quint64(0);
    QTest::newRow("20 digits step 2 near the end") << "s@0:20:ascii:0:2" << kLargest - 3 << quint64(2) << true << kLargest - 1;
}

void TestSerialNumbers::numbersLeft()
{
    QFETCH(QString, format);
    QFETCH(quint64, next);
    QFETCH(bool, hasAfter);
    const SerialSpec serial = SerialSpec::parse(format);
    QTEST(serial.numbersLeft(next), "left");
    const std::optional<quint64> after = serial.after(next);
    QCOMPARE(after.has_value(), hasAfter);
    if (after)
        QTEST(*after, "after");
    if (serial.numbersLeft(next) > 0)
        serial.requireNumberLeft(next);
    else
        QVERIFY_THROWS_EXCEPTION(SerialSpecError, serial.requireNumberLeft(next));
}

void TestSerialNumbers::seriesAtItsEnd()
{
    // The last number is the series' own, on its step.
    QCOMPARE(SerialSpec::parse(QStringLiteral("s@0:4:le:0xFFFFFFFE:2")).last(), quint64(4294967294));
    QCOMPARE(SerialSpec::parse(QStringLiteral("s@0:4:le:1:2")).last(), quint64(4294967295));
    QCOMPARE(SerialSpec::parse(QStringLiteral("s@0:2:ascii:0:3")).last(), quint64(99));
    QCOMPARE(SerialSpec::parse(QStringLiteral("s@0:8:le:0:2")).last(), kLargest - 1);
    QCOMPARE(SerialSpec::parse(QStringLiteral("s@0:8:le:7:0xFFFFFFFFFFFFFFFF")).last(), quint64(7));

    const SerialSpec bytes = SerialSpec::parse(QStringLiteral("pump@0:2:le:65534"));
    bytes.requireNumberLeft(65535);
    try {
        bytes.requireNumberLeft(65536);
        QFAIL("no stop");
    } catch (const SerialSpecError &error) {
        QCOMPARE(QString::fromStdString(error.what()),
                 QStringLiteral("series pump has no number left: the next, 65536, does not fit in 2 bytes (65535 at most)"));
    }
    try {
        SerialSpec::parse(QStringLiteral("sensor@0:3:ascii")).requireNumberLeft(1000);
        QFAIL("no stop");
    } catch (const SerialSpecError &error) {
        QCOMPARE(QString::fromStdString(error.what()),
                 QStringLiteral("series sensor has no number left: the next, 1000, does not fit in 3 ASCII digits (999 at most)"));
    }
}

void TestSerialNumbers::encodings_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<quint64>("number");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("le 4") << "s@0:4:le" << quint64(0x12345678) << QByteArray::fromHex("78563412");
    QTest::newRow("be 4") << "s@0:4:be" << quint64(0x12345678) << QByteArray::fromHex("12345678");
    QTest::newRow("le 3") << "s@0:3:le" << quint64(0xABCDEF) << QByteArray::fromHex("EFCDAB");
    QTest::newRow("be 8, the largest") << "s@0:8:be" << kMax64 << QByteArray(8, '\xff');
    QTest::newRow("le 1, zero") << "s@0:1:le:0" << quint64(0) << QByteArray(1, '\0');
    QTest::newRow("ascii padded") << "s@0:6:ascii" << quint64(42) << QByteArray("000042");
    QTest::newRow("ascii full") << "s@0:4:ascii" << quint64(9999) << QByteArray("9999");
    QTest::newRow("ascii 20 digits") << "s@0:20:ascii" << kMax64 << QByteArray("18446744073709551615");
}

void TestSerialNumbers::encodings()
{
    QFETCH(QString, format);
    QFETCH(quint64, number);
    QFETCH(QByteArray, bytes);
    const SerialSpec serial = SerialSpec::parse(format);
    QCOMPARE(serial.encode(number), bytes);
    QCOMPARE(serial.decode(bytes), std::optional<quint64>(number));
    // A number past the width is never written, so never cut short.
    if (serial.largest() < kMax64)
        QVERIFY_THROWS_EXCEPTION(SerialSpecError, serial.encode(serial.largest() + 1));
    // Bytes that carry no number in ascii, and a value past 64 bits.
    if (serial.encoding == SerialEncoding::AsciiDecimal) {
        QCOMPARE(serial.decode(QByteArray(serial.width, '\xff')), std::nullopt);
        QCOMPARE(serial.decode(QByteArray(serial.width - 1, '0') + ' '), std::nullopt);
    }
    QCOMPARE(SerialSpec::parse("s@0:20:ascii").decode("99999999999999999999"), std::nullopt);
}

void TestSerialNumbers::places_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<QByteArray>("serial");
    // Each piece as "line:first data byte:count", lines counted from 1.
    QTest::addColumn<QStringList>("pieces");

    QTest::newRow("inside one record") << file({filled(0, 16), filled(16, 16), kEnd}) << 0x4u
                                       << QByteArray::fromHex("DEADBEEF") << QStringList{"1:5:4"};
    QTest::newRow("across two records") << file({filled(0, 16), filled(16, 16), kEnd}) << 0xEu
                                        << QByteArray::fromHex("01020304") << QStringList{"1:15:2", "2:1:2"};
    QTest::newRow("across three short records") << file({filled(0, 2), filled(2, 2), filled(4, 2), kEnd}) << 0x1u
                                                << QByteArray::fromHex("AABBCCDD") << QStringList{"1:2:1", "2:1:2", "3:1:1"};
    QTest::newRow("extended linear address")
        << file({linear(0x0800), filled(0xF000, 16), filled(0xF010, 16), kEnd}) << 0x0800F00Cu
        << QByteArray::fromHex("11223344556677") << QStringList{"2:13:4", "3:1:3"};
    QTest::newRow("extended segment address")
        << file({segment(0x1000), filled(0x0010, 16), kEnd}) << 0x10012u << QByteArray("42") << QStringList{"2:3:2"};
    QTest::newRow("the same offsets under two linear bases")
        << file({filled(0, 16), linear(1), filled(0, 16), kEnd}) << 0x10000u << QByteArray::fromHex("ABCD")
        << QStringList{"3:1:2"};
    QTest::newRow("a start address record between")
        << file({filled(0, 16), record({4, 0, 0, 5, 0x08, 0, 0x01, 0x23}), filled(16, 16), kEnd}) << 0xFu
        << QByteArray::fromHex("5A5A") << QStringList{"1:16:1", "3:1:1"};
    QTest::newRow("records out of address order")
        << file({filled(0x20, 16), filled(0, 16), filled(0x10, 16), kEnd}) << 0x1Eu
        << QByteArray::fromHex("01020304") << QStringList{"3:15:2", "1:1:2"};
    QTest::newRow("an offset that wraps within its record")
        << file({filled(0xFFF8, 16), kEnd}) << 0x2u << QByteArray::fromHex("7788") << QStringList{"1:11:2"};
    QTest::newRow("a segment's offset wraps within its 64 KiB")
        << file({segment(0x1000), filled(0xFFF8, 16), kEnd}) << 0x10002u << QByteArray::fromHex("7788")
        << QStringList{"2:11:2"};
    QTest::newRow("a linear record goes on into the next 64 KiB")
        << file({linear(0x0800), filled(0xFFF8, 16), kEnd}) << 0x0800FFFEu << QByteArray::fromHex("11223344")
        << QStringList{"2:7:4"};
    QTest::newRow("a linear record at the end of 4 GiB wraps to its start")
        << file({linear(0xFFFF), filled(0xFFF8, 16), kEnd}) << 0x2u << QByteArray::fromHex("5566")
        << QStringList{"2:11:2"};
    QTest::newRow("LF ends and blank lines")
        << QByteArray("\n") + filled(0, 16) + "\n\n" + filled(16, 16) + "\n" + kEnd + "\n" << 0xFu
        << QByteArray::fromHex("0102") << QStringList{"2:16:1", "4:1:1"};
    QTest::newRow("lone CR ends, no final end")
        << filled(0, 16) + "\r" + filled(16, 16) + "\r" + kEnd << 0x10u << QByteArray::fromHex("FF") << QStringList{"2:1:1"};
    QTest::newRow("the same bytes again") << file({filled(0, 16), kEnd}) << 0x2u << QByteArray::fromHex("0203")
                                          << QStringList{"1:3:2"};
}

void TestSerialNumbers::places()
{
    QFETCH(QByteArray, content);
    QFETCH(quint32, address);
    QFETCH(QByteArray, serial);
    QFETCH(QStringList, pieces);

    const auto image = FirmwareImage::fromBytes(content, QStringLiteral("job.hex"));
    const SerialPlace place = SerialPlace::find(*image, address, int(serial.size()));
    QStringList found;
    for (const SerialPiece &piece : place.pieces())
        found << QStringLiteral("%1:%2:%3").arg(piece.line + 1).arg(piece.dataOffset + 1).arg(piece.count);
    QCOMPARE(found, pieces);

    const auto patched = place.patched(*image, serial);
    verifyPatch(*image, *patched, place, serial);
    QVERIFY2(checkFirmwareImage(*patched).passed(), qPrintable(checkFirmwareImage(*patched).failures().join('\n')));
    // The job itself is left as it was.
    QCOMPARE(image->bytes(), content);
}

void TestSerialNumbers::refusedPlaces_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("message");

    QTest::newRow("a gap between records")
        << file({filled(0, 16), filled(0x20, 16), kEnd}) << 0x1Eu << 4
        << "address 0x0000001E: 2 of the serial's 4 bytes (0x0000001E to 0x00000021) lie outside the image's data, "
           "the first of them here; the firmware must reserve all of the serial's bytes in its data records";
    QTest::newRow("wholly outside") << file({filled(0, 16), kEnd}) << 0x1000u << 4
                                    << "address 0x00001000: the serial's 4 bytes (0x00001000 to 0x00001003) lie outside "
                                       "the image's data; the firmware must reserve them in its data records";
    QTest::newRow("past the last record") << file({filled(0, 16), kEnd}) << 0xEu << 4
                                          << "address 0x00000010: 2 of the serial's 4 bytes (0x0000000E to 0x00000011) "
                                             "lie outside the image's data, the first of them here; the firmware must "
                                             "reserve all of the serial's bytes in its data records";
    QTest::newRow("data after the end-of-file record") << file({filled(0, 16), kEnd, filled(16, 16)}) << 0x10u << 2
                                                       << "address 0x00000010: the serial's 2 bytes (0x00000010 to "
                                                          "0x00000011) lie outside the image's data; the firmware must "
                                                          "reserve them in its data records";
    QTest::newRow("a linear record does not wrap into its own 64 KiB")
        << file({linear(0x0800), filled(0xFFF8, 16), kEnd}) << 0x08000002u << 2
        << "address 0x08000002: the serial's 2 bytes (0x08000002 to 0x08000003) lie outside the image's data; the "
           "firmware must reserve them in its data records";
    QTest::newRow("an address under another linear base")
        << file({filled(0xF000, 16), kEnd}) << 0x0800F000u << 4
        << "address 0x0800F000: the serial's 4 bytes (0x0800F000 to 0x0800F003) lie outside the image's data; the "
           "firmware must reserve them in its data records";
    QTest::newRow("two records write a byte") << file({filled(0, 16), filled(16, 16), filled(4, 2), kEnd}) << 0x2u << 4
                                              << "address 0x00000004 is written by two records, lines 1 and 3: the "
                                                 "serial's place must be written once";
    QByteArray badSum = filled(16, 16);
    badSum[badSum.size() - 1] = badSum.back() == '0' ? '1' : '0';
    QTest::newRow("a wrong checksum") << file({filled(0, 16), badSum, kEnd}) << 0x40u << 4
                                      << "line 2 cannot be read as a HEX record (its checksum is wrong), so where the "
                                         "serial's bytes lie would be a guess";
    QTest::newRow("a short record") << file({filled(0, 16), filled(16, 16).left(20), kEnd}) << 0x0u << 4
                                    << "line 2 cannot be read as a HEX record (it is shorter than its byte count of 16 "
                                       "says), so where the serial's bytes lie would be a guess";
    QTest::newRow("not a hex digit") << file({filled(0, 16), filled(16, 16).replace(12, 1, "G"), kEnd}) << 0x0u << 4
                                     << "line 2 cannot be read as a HEX record (column 13 is not a hex digit), so where "
                                        "the serial's bytes lie would be a guess";
    QTest::newRow("a line that is no record") << file({filled(0, 16), "hello", kEnd}) << 0x0u << 4
                                              << "line 2 cannot be read as a HEX record (it does not start with \":\"), "
                                                 "so where the serial's bytes lie would be a guess";
    QTest::newRow("unknown record type") << file({record({0, 0, 0, 6}), filled(0, 16), kEnd}) << 0x0u << 4
                                         << "line 1: unknown record type 0x06, so where the serial's bytes lie would be "
                                            "a guess";
    QTest::newRow("a long extended address") << file({record({3, 0, 0, 4, 0, 1, 2}), filled(0, 16), kEnd}) << 0x0u << 4
                                             << "line 1: an extended address record with 3 bytes instead of 2";
    QTest::newRow("not HEX") << QByteArray("\r\nBINARY\r\n") << 0x0u << 4
                             << "not an Intel HEX file: line 2, the first that is not blank, does not start with \":\", "
                                "so no line holds an address";
}

void TestSerialNumbers::refusedPlaces()
{
    QFETCH(QByteArray, content);
    QFETCH(quint32, address);
    QFETCH(int, width);
    QFETCH(QString, message);
    try {
        SerialPlace::find(*FirmwareImage::fromBytes(content), address, width);
        QFAIL("found");
    } catch (const SerialPlaceError &error) {
        QCOMPARE(QString::fromStdString(error.what()), message);
    }
}

void TestSerialNumbers::caseAndTailOfAPatchedLine()
{
    // A line in lower case stays in lower case, one in upper case in upper
    // case; a pair keeps its own case where a line mixes them; what follows
    // the record (here spaces and a note) is kept as it is.
    const QByteArray lower = filled(0, 16).toLower();
    QList<int> mixedBytes;
    for (int i = 0; i < 16; ++i)
        mixedBytes << (i == 0 ? 0x0A : 0x10 + i);
    const QByteArray mixed = data(16, mixedBytes).replace(9, 2, "0a");
    const QByteArray tail = "  ; reserved";
    const auto image = FirmwareImage::fromBytes(file({lower + tail, mixed, kEnd}));
    const SerialPlace place = SerialPlace::find(*image, 0xF, 3);
    const auto patched = place.patched(*image, QByteArray::fromHex("ABCDEF"));
    verifyPatch(*image, *patched, place, QByteArray::fromHex("ABCDEF"));

    const QByteArray first = patched->lines()[0];
    QVERIFY(first.endsWith(tail));
    QCOMPARE(first.mid(9 + 30, 2), QByteArray("ab"));
    QCOMPARE(first.left(first.size() - tail.size()), first.left(first.size() - tail.size()).toLower());
    const QByteArray second = patched->lines()[1];
    QCOMPARE(second.mid(9, 4), QByteArray("cdEF"));
    QCOMPARE(second.right(2), second.right(2).toUpper());
}

void TestSerialNumbers::randomImagesChangeOnlyTheSerial()
{
    // Images of records of random lengths, with gaps, upper address records
    // and either case; a serial of random width placed at random inside the
    // data, patched with random bytes.
    QRandomGenerator random(23);
    for (int round = 0; round < 300; ++round) {
        QList<QByteArray> lines;
        QList<quint64> dataAddresses;
        quint64 upper = 0;
        quint64 offset = 0;
        const bool lowerCase = random.bounded(4) == 0;
        const int records = 1 + random.bounded(40);
        for (int r = 0; r < records; ++r) {
            if (random.bounded(10) == 0) {
                upper += 1 + random.bounded(3);
                offset = random.bounded(0x100);
                lines << linear(int(upper));
            }
            const int count = 1 + random.bounded(32);
            if (offset + count > 0x10000)
                break;
            QList<int> bytes;
            for (int i = 0; i < count; ++i) {
                bytes << random.bounded(256);
                dataAddresses << (upper << 16) + offset + quint64(i);
            }
            QByteArray line = data(int(offset), bytes);
            lines << (lowerCase ? line.toLower() : line);
            offset += count + (random.bounded(5) == 0 ? random.bounded(8) : 0);
        }
        lines << kEnd;
        const auto image = FirmwareImage::fromBytes(file(lines, random.bounded(2) ? "\r\n" : "\n"));

        // A run of addresses that all hold data.
        const int start = random.bounded(int(dataAddresses.size()));
        int width = 1;
        const int wanted = 1 + random.bounded(8);
        while (width < wanted && start + width < dataAddresses.size()
               && dataAddresses[start + width] == dataAddresses[start] + quint64(width))
            ++width;
        QByteArray serial;
        for (int i = 0; i < width; ++i)
            serial.append(char(random.bounded(256)));

        const SerialPlace place = SerialPlace::find(*image, quint32(dataAddresses[start]), width);
        const auto patched = place.patched(*image, serial);
        verifyPatch(*image, *patched, place, serial);
        if (QTest::currentTestFailed()) {
            qWarning("round %d: serial of %d bytes at 0x%llx", round, width,
                     static_cast<unsigned long long>(dataAddresses[start]));
            return;
        }
        QVERIFY(checkFirmwareImage(*patched).passed());
    }
}

void TestSerialNumbers::replacedLinesKeepTheirLength()
{
    const auto image = FirmwareImage::fromBytes(file({filled(0, 4), kEnd}));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, image->withLines({{0, "short"}}));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, image->withLines({{2, kEnd}}));
    const SerialPlace place = SerialPlace::find(*image, 0, 2);
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, place.patched(*image, "abc"));
}

QTEST_GUILESS_MAIN(TestSerialNumbers)
#include "tst_serial_numbers.moc"
