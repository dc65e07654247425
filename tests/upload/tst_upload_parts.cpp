#include "Counter16.h"
#include "FirmwareImage.h"
#include "TempFiles.h"
#include "VersionNumber.h"

#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cstring>
#include <limits>

using namespace quobin;
using namespace quobin::testing;

// The small parts the upload is built from: the version reader, the 16-bit
// counters and the line reader of the firmware file.
class UploadPartsTest : public QObject {
    Q_OBJECT

private:
    TempFiles m_folder;

    QString fileWith(const QByteArray &content) { return m_folder.write(content); }

    QList<QByteArray> linesOf(const QByteArray &content)
    {
        const auto image = FirmwareImage::read(fileWith(content));
        // A reading of the bytes themselves splits them the same way.
        if (FirmwareImage::fromBytes(content)->lines() != image->lines())
            return {"different from the file's reading"};
        return image->lines();
    }

private slots:
    void versionNumbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<float>("expected");
        QTest::newRow("plain") << QByteArray("1.28") << 1.28f;
        QTest::newRow("trailing text") << QByteArray("1.28\r\n?~") << 1.28f;
        QTest::newRow("letter first") << QByteArray("x1.28") << 0.0f;
        QTest::newRow("empty") << QByteArray() << 0.0f;
        QTest::newRow("blanks anywhere") << QByteArray(" 1 .\t2\n8") << 1.28f;
        QTest::newRow("sign") << QByteArray("-2.5") << -2.5f;
        QTest::newRow("plus") << QByteArray("+3") << 3.0f;
        QTest::newRow("double sign") << QByteArray("--3") << 0.0f;
        QTest::newRow("fraction only") << QByteArray(".5x") << 0.5f;
        QTest::newRow("dot alone") << QByteArray(".") << 0.0f;
        QTest::newRow("exponent E") << QByteArray("1.5E2") << 150.0f;
        QTest::newRow("exponent D") << QByteArray("1.5D-1") << 0.15f;
        QTest::newRow("exponent without digits") << QByteArray("2E") << 2.0f;
        QTest::newRow("second dot stops") << QByteArray("1.2.3") << 1.2f;
        QTest::newRow("hex") << QByteArray("&H10") << 16.0f;
        QTest::newRow("hex lower") << QByteArray("&hff") << 255.0f;
        QTest::newRow("hex 16-bit negative") << QByteArray("&HFFFF") << -1.0f;
        QTest::newRow("hex 32-bit") << QByteArray("&H10000") << 65536.0f;
        QTest::newRow("octal") << QByteArray("&O17") << 15.0f;
        QTest::newRow("octal stops at 8") << QByteArray("&O78") << 7.0f;
        QTest::newRow("ampersand alone") << QByteArray("&") << 0.0f;
    }
    void versionNumbers()
    {
        QFETCH(QByteArray, text);
        QFETCH(float, expected);
        QCOMPARE(readVersionNumber(text), expected);
    }

    void versionNumbersAreSinglePrecision()
    {
        // The limit that selects resending is compared in single precision:
        // 1.28 read from the wire equals the constant exactly.
        const float read = readVersionNumber("1.28");
        QVERIFY(!(read < 1.28f));
        QVERIFY(readVersionNumber("1.2799999") < 1.28f);
        QCOMPARE(double(read), double(1.28f));
        QVERIFY(double(read) != 1.28);
    }

    void versionNumbersTooLargeAreFailures()
    {
        QVERIFY_THROWS_EXCEPTION(VersionNumberError, readVersionNumber("1E39"));
        QVERIFY_THROWS_EXCEPTION(VersionNumberError, readVersionNumber("1E400"));
        QVERIFY_THROWS_EXCEPTION(VersionNumberError, readVersionNumber("&H1FFFFFFFF"));
        QVERIFY_THROWS_EXCEPTION(VersionNumberError, readVersionNumber("0.0001E400"));
        QVERIFY_THROWS_EXCEPTION(VersionNumberError, readVersionNumber(QByteArray(400, '9')));
        QCOMPARE(readVersionNumber("3.4E38"), 3.4e38f);
        // Too small to hold is nothing, as far as a version goes.
        QCOMPARE(readVersionNumber("1E-400"), 0.0f);
        QCOMPARE(readVersionNumber("0.000E999999999999999999"), 0.0f);
    }

    void versionNumbersReadTheSameUnderACommaLocale()
    {
        // Qt takes the process locale from the desktop; one that writes
        // decimals with a comma must not change how the version reads.
        const QByteArray saved = std::setlocale(LC_NUMERIC, nullptr);
        if (std::strcmp(std::localeconv()->decimal_point, ",") != 0
            && !std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            QSKIP("no comma-decimal locale here; tst_upload_parts_comma_locale runs under one");
        QCOMPARE(std::localeconv()->decimal_point, ",");
        const float version = readVersionNumber("1.28");
        const float comma = readVersionNumber("1,28");
        const float blanks = readVersionNumber(" 1 .\t2\n8");
        const float exponent = readVersionNumber("1.5D-1");
        const float tiny = readVersionNumber("1.5E-400");
        bool tooLarge = false;
        try {
            readVersionNumber("2.5E39");
        } catch (const VersionNumberError &) {
            tooLarge = true;
        }
        std::setlocale(LC_NUMERIC, saved.constData());
        QCOMPARE(version, 1.28f);
        QCOMPARE(comma, 1.0f);
        QCOMPARE(blanks, 1.28f);
        QCOMPARE(exponent, 0.15f);
        QCOMPARE(tiny, 0.0f);
        QVERIFY(tooLarge);
    }

    void countersFailInsteadOfWrapping()
    {
        QCOMPARE(checkedAdd(32766, 1), qint16(32767));
        QVERIFY_THROWS_EXCEPTION(CounterOverflow, checkedAdd(32767, 1));
        QCOMPARE(checkedAdd(0, -1), qint16(-1));
        QVERIFY_THROWS_EXCEPTION(CounterOverflow, checkedAdd(-32768, -1));
    }

    void linesEndAtAnyLineEnd()
    {
        QCOMPARE(linesOf("a\r\nb\r\n"), (QList<QByteArray>{"a", "b"}));
        QCOMPARE(linesOf("a\nb"), (QList<QByteArray>{"a", "b"}));
        QCOMPARE(linesOf("a\rb\r"), (QList<QByteArray>{"a", "b"}));
        QCOMPARE(linesOf("a\r\n\r\n\nb"), (QList<QByteArray>{"a", "", "", "b"}));
        QCOMPARE(linesOf(""), QList<QByteArray>{});
        QCOMPARE(linesOf("\r\n"), QList<QByteArray>{""});
    }

    void linesKeepTheirBytes()
    {
        const QByteArray odd = QByteArray("\x00\xff\xc3\xa9 \t:", 7);
        QCOMPARE(linesOf(odd + "\r\n" + odd), (QList<QByteArray>{odd, odd}));
    }

    void anImageKeepsTheBytesAsRead()
    {
        const QString path = fileWith("abc");
        const auto image = FirmwareImage::read(path);
        QCOMPARE(image->bytes(), QByteArray("abc"));
        QCOMPARE(image->path(), path);
        QCOMPARE(image->sha256Hex(), QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
        QCOMPARE(FirmwareImage::fromBytes({})->sha256Hex(),
                 QByteArray("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    }

    void missingFilesAndFoldersCannotBeRead()
    {
        QVERIFY_THROWS_EXCEPTION(FirmwareFileError, FirmwareImage::read(m_folder.filePath("none.hex")));
        QVERIFY_THROWS_EXCEPTION(FirmwareFileError, FirmwareImage::read(m_folder.path()));
    }
};

QTEST_GUILESS_MAIN(UploadPartsTest)
#include "tst_upload_parts.moc"
