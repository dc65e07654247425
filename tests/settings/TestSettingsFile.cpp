#include "SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include "ClosedFolder.h"
#endif
#ifdef Q_OS_UNIX
#include "Unprivileged.h"
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

using quobin::StoredSettings;

namespace {

StoredSettings settings(qint16 com, qint16 baud, const QString &path)
{
    StoredSettings s;
    s.comPortPosition = com;
    s.baudRatePosition = baud;
    s.firmwarePath = path;
    return s;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

void putFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

namespace QTest {
template <>
char *toString(const StoredSettings &s)
{
    return qstrdup(QStringLiteral("{%1, %2, \"%3\"}")
                       .arg(s.comPortPosition)
                       .arg(s.baudRatePosition)
                       .arg(s.firmwarePath)
                       .toUtf8()
                       .constData());
}
} // namespace QTest

class TestSettingsFile : public QObject {
    Q_OBJECT

private slots:
    void formatWritesDefaultsAsTenBytes();
    void formatWritesPositionsAndQuotedPath();

    void parseAccepts_data();
    void parseAccepts();
    void parseRejects_data();
    void parseRejects();
    void formatThenParseGivesTheSameSettings_data();
    void formatThenParseGivesTheSameSettings();

    void pathJoinsFolderAndFileName();
    void listPositionAllowsMinusOneToLastIndex();

    void fileRoundTripKeepsNonAsciiPathAsUtf8();
    void writeReplacesOldContentWhole();
    void readOfMissingFileFails();
    void writeUnderAFileInsteadOfAFolderFails();
    void writeIntoReadOnlyFolderKeepsOldFile();
    void writeThatFailsMidwayKeepsOldFile();
};

void TestSettingsFile::formatWritesDefaultsAsTenBytes()
{
    QCOMPARE(quobin::formatSettings(StoredSettings{}),
             QByteArray::fromHex("300D0A350D0A22220D0A"));
}

void TestSettingsFile::formatWritesPositionsAndQuotedPath()
{
    // "Com 3" is position 2, "9600" position 3.
    QCOMPARE(quobin::formatSettings(settings(2, 3, QStringLiteral("C:\\fw\\main.hex"))),
             QByteArray("2\r\n3\r\n\"C:\\fw\\main.hex\"\r\n"));
    QCOMPARE(quobin::formatSettings(settings(-1, -32768, QString())),
             QByteArray("-1\r\n-32768\r\n\"\"\r\n"));
}

void TestSettingsFile::parseAccepts_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<StoredSettings>("expected");

    const QString fw = QStringLiteral("C:\\fw\\main.hex");
    QTest::newRow("defaults") << QByteArray::fromHex("300D0A350D0A22220D0A") << StoredSettings{};
    QTest::newRow("three lines") << QByteArray("2\r\n3\r\n\"C:\\fw\\main.hex\"\r\n")
                                 << settings(2, 3, fw);
    QTest::newRow("one line, comma in path")
        << QByteArray("1,2,\"C:\\fw,x\\main.hex\"\r\n")
        << settings(1, 2, QStringLiteral("C:\\fw,x\\main.hex"));
    QTest::newRow("LF only") << QByteArray("2\n3\n\"C:\\fw\\main.hex\"\n") << settings(2, 3, fw);
    QTest::newRow("CR only") << QByteArray("2\r3\r\"C:\\fw\\main.hex\"\r") << settings(2, 3, fw);
    QTest::newRow("no final line end") << QByteArray("2\r\n3\r\n\"C:\\fw\\main.hex\"")
                                       << settings(2, 3, fw);
    QTest::newRow("extra lines ignored")
        << QByteArray("2\r\n3\r\n\"C:\\fw\\main.hex\"\r\n7\r\ngarbage,\"x\r\n")
        << settings(2, 3, fw);
    QTest::newRow("text after closing quote ignored")
        << QByteArray("2\r\n3\r\n\"C:\\fw\\main.hex\" trailing,4\r\n") << settings(2, 3, fw);
    QTest::newRow("minus one") << QByteArray("-1\r\n-1\r\n\"\"\r\n") << settings(-1, -1, QString());
    QTest::newRow("16-bit limits") << QByteArray("-32768\r\n32767\r\n\"\"\r\n")
                                   << settings(-32768, 32767, QString());
    QTest::newRow("leading zeros") << QByteArray("0000000000007\r\n-00\r\n\"\"\r\n")
                                   << settings(7, 0, QString());
    QTest::newRow("blanks around numbers") << QByteArray(" 2 \r\n\t-3\t, \"p\"\r\n")
                                           << settings(2, -3, QStringLiteral("p"));
    QTest::newRow("unquoted path, blanks trimmed")
        << QByteArray("2\r\n3\r\n  C:\\fw\\main.hex  ,rest\r\n") << settings(2, 3, fw);
    QTest::newRow("empty third line") << QByteArray("2\r\n3\r\n\r\n") << settings(2, 3, QString());
    QTest::newRow("quoted path spans a line break")
        << QByteArray("0\r\n5\r\n\"a\r\nb\"\r\n") << settings(0, 5, QStringLiteral("a\r\nb"));
    QTest::newRow("UTF-8 byte-order mark") << QByteArray("\xEF\xBB\xBF" "4\r\n5\r\n\"\"\r\n")
                                           << settings(4, 5, QString());
#ifdef Q_OS_WIN
    // On Windows a file that is not UTF-8 is read in the ANSI code page, as
    // older tools there write it (1252 here), and remembers it.
    StoredSettings legacy = settings(0, 5, QStringLiteral("caf\u00E9"));
    legacy.pathInLegacyCodePage = true;
    QTest::newRow("invalid UTF-8 is read in the ANSI code page")
        << QByteArray("0\r\n5\r\n\"caf\xE9\"\r\n") << legacy;
#else
    QTest::newRow("invalid UTF-8 becomes replacement character")
        << QByteArray("0\r\n5\r\n\"caf\xE9\"\r\n") << settings(0, 5, QStringLiteral("caf\uFFFD"));
#endif
    // Positions outside the lists are the window's to refuse, not the file's.
    QTest::newRow("position beyond the lists") << QByteArray("8\r\n10\r\n\"\"\r\n")
                                               << settings(8, 10, QString());
}

void TestSettingsFile::parseAccepts()
{
    QFETCH(QByteArray, content);
    QFETCH(StoredSettings, expected);
    QCOMPARE(quobin::parseSettings(content), expected);
}

void TestSettingsFile::parseRejects_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("one field") << QByteArray("0\r\n");
    QTest::newRow("two fields") << QByteArray("0\r\n5\r\n");
    QTest::newRow("two fields, no line end") << QByteArray("0\r\n5");
    QTest::newRow("one line, two fields") << QByteArray("0,5,");
    QTest::newRow("40000") << QByteArray("40000\r\n5\r\n\"\"\r\n");
    QTest::newRow("32768") << QByteArray("32768\r\n5\r\n\"\"\r\n");
    QTest::newRow("-32769") << QByteArray("0\r\n-32769\r\n\"\"\r\n");
    QTest::newRow("many digits") << QByteArray("0\r\n99999999999999999999999\r\n\"\"\r\n");
    QTest::newRow("abc") << QByteArray("abc\r\n5\r\n\"\"\r\n");
    QTest::newRow("empty number") << QByteArray("\r\n5\r\n\"\"\r\n");
    QTest::newRow("minus alone") << QByteArray("-\r\n5\r\n\"\"\r\n");
    QTest::newRow("digits then letters") << QByteArray("1x\r\n5\r\n\"\"\r\n");
    QTest::newRow("two numbers on one field") << QByteArray("1 2\r\n5\r\n\"\"\r\n");
    QTest::newRow("plus sign") << QByteArray("+1\r\n5\r\n\"\"\r\n");
    QTest::newRow("decimal point") << QByteArray("1.0\r\n5\r\n\"\"\r\n");
    QTest::newRow("hexadecimal") << QByteArray("0\r\n0x5\r\n\"\"\r\n");
    QTest::newRow("quoted number") << QByteArray("\"1\"\r\n5\r\n\"\"\r\n");
    QTest::newRow("path without closing quote") << QByteArray("0\r\n5\r\n\"C:\\fw\r\n");
}

void TestSettingsFile::parseRejects()
{
    QFETCH(QByteArray, content);
    QVERIFY_THROWS_EXCEPTION(quobin::SettingsError, quobin::parseSettings(content));
}

void TestSettingsFile::formatThenParseGivesTheSameSettings_data()
{
    QTest::addColumn<StoredSettings>("stored");

    QTest::newRow("defaults") << StoredSettings{};
    QTest::newRow("commas in path") << settings(1, 2, QStringLiteral("C:\\fw,x\\a,b.hex"));
    QTest::newRow("blanks around path") << settings(7, 9, QStringLiteral("  spaced  "));
    QTest::newRow("non-ASCII path")
        << settings(3, 4, QStringLiteral("/home/zoë/固件/Überprüfung 😀.hex"));
    QTest::newRow("path starting with U+FEFF") << settings(0, 5, QStringLiteral("\uFEFFfw.hex"));
    QTest::newRow("path with line breaks") << settings(0, 5, QStringLiteral("a\r\nb\rc\n"));
    QTest::newRow("limits") << settings(-32768, 32767, QStringLiteral("x"));
    QTest::newRow("no selection") << settings(-1, -1, QStringLiteral("/tmp/a.hex"));
}

void TestSettingsFile::formatThenParseGivesTheSameSettings()
{
    QFETCH(StoredSettings, stored);
    QCOMPARE(quobin::parseSettings(quobin::formatSettings(stored)), stored);
}

void TestSettingsFile::pathJoinsFolderAndFileName()
{
#ifdef Q_OS_WIN
    QCOMPARE(quobin::settingsFilePath(QStringLiteral("C:\\fw")), QStringLiteral("C:\\fw\\quobin.ini"));
#else
    QCOMPARE(quobin::settingsFilePath(QStringLiteral("/opt/quobin")),
             QStringLiteral("/opt/quobin/quobin.ini"));
    QCOMPARE(quobin::settingsFilePath(QStringLiteral("/")), QStringLiteral("/quobin.ini"));
#endif
}

void TestSettingsFile::listPositionAllowsMinusOneToLastIndex()
{
    QVERIFY(quobin::isListPosition(-1, 8));
    QVERIFY(quobin::isListPosition(0, 8));
    QVERIFY(quobin::isListPosition(7, 8));
    QVERIFY(!quobin::isListPosition(8, 8));
    QVERIFY(!quobin::isListPosition(-2, 8));
    QVERIFY(quobin::isListPosition(9, 10));
    QVERIFY(!quobin::isListPosition(10, 10));
}

void TestSettingsFile::fileRoundTripKeepsNonAsciiPathAsUtf8()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = quobin::settingsFilePath(dir.path());
    const QString firmware = QStringLiteral("C:\\Prüfung\\ファーム,v2.hex");
    const StoredSettings stored = settings(2, 3, firmware);

    quobin::writeSettingsFile(file, stored);
    QCOMPARE(fileBytes(file), "2\r\n3\r\n\"" + firmware.toUtf8() + "\"\r\n");
    QCOMPARE(quobin::readSettingsFile(file), stored);
}

void TestSettingsFile::writeReplacesOldContentWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = quobin::settingsFilePath(dir.path());
    putFile(file, "1\r\n2\r\n\"a very long old path that is longer than the new one\"\r\nextra\r\n");

    QCOMPARE(quobin::readSettingsFile(file).firmwarePath,
             QStringLiteral("a very long old path that is longer than the new one"));
    quobin::writeSettingsFile(file, StoredSettings{});
    QCOMPARE(fileBytes(file), QByteArray::fromHex("300D0A350D0A22220D0A"));
    // No temporary file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"quobin.ini"});
}

void TestSettingsFile::readOfMissingFileFails()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = quobin::settingsFilePath(dir.path());
    try {
        quobin::readSettingsFile(file);
        QFAIL("reading a missing file succeeded");
    } catch (const quobin::SettingsFileMissing &error) {
        QVERIFY2(QString::fromStdString(error.what()).contains(file), error.what());
    }
}

void TestSettingsFile::writeUnderAFileInsteadOfAFolderFails()
{
    // A parent that is a regular file stops every user, root included.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString notAFolder = dir.filePath(QStringLiteral("plain"));
    putFile(notAFolder, "not a folder");

    QVERIFY_THROWS_EXCEPTION(quobin::SettingsError,
                             quobin::writeSettingsFile(quobin::settingsFilePath(notAFolder),
                                                       StoredSettings{}));
    QCOMPARE(fileBytes(notAFolder), QByteArray("not a folder"));
}

void TestSettingsFile::writeIntoReadOnlyFolderKeepsOldFile()
{
#ifdef Q_OS_WIN
    // The folder's access-control list lets everyone read and list it, no
    // more; the old file itself is writable (not read-only): only writing
    // in place could change it. An administrator (Wine run by root) writes
    // into it all the same: run as an ordinary user.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = quobin::settingsFilePath(dir.path());
    const QByteArray old("3\r\n4\r\n\"old\"\r\n");
    putFile(file, old);
    QVERIFY(QFile::setPermissions(file, QFile::permissions(file) | QFile::WriteOwner | QFile::WriteOther));
    const QString closed = quobin::testing::closeFolderToWriting(dir.path());
    QVERIFY2(closed.isEmpty(), qPrintable(closed));
    const auto restore = qScopeGuard([&] { quobin::testing::openFolderAgain(dir.path()); });
    QVERIFY2(!QFile(dir.filePath(QStringLiteral("probe"))).open(QIODevice::WriteOnly),
             "this user writes into a folder closed to writing: run the suite as an ordinary user");

    QString outcome;
    try {
        quobin::writeSettingsFile(file, settings(0, 5, QStringLiteral("new")));
        outcome = QStringLiteral("written");
    } catch (const quobin::SettingsError &) {
        outcome = QStringLiteral("refused");
    }
    QCOMPARE(outcome, QStringLiteral("refused"));
    QCOMPARE(fileBytes(file), old);
#elif !defined(Q_OS_UNIX)
    QSKIP("folder permissions are POSIX here");
#else
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = quobin::settingsFilePath(dir.path());
    const QByteArray old("3\r\n4\r\n\"old\"\r\n");
    putFile(file, old);
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther
                                    | QFile::WriteOther);
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner
                                                  | QFile::ReadOther | QFile::ExeOther));
    const auto restore = qScopeGuard([&] {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });

    // The old file itself is writable: only writing in place could change it.
    // Run as an ordinary user: root would write into the folder anyway.
    QString failure;
    const QByteArray outcome = quobin::testing::runUnprivileged([&]() -> QByteArray {
        try {
            quobin::writeSettingsFile(file, settings(0, 5, QStringLiteral("new")));
            return "written";
        } catch (const quobin::SettingsError &) {
            return "refused";
        }
    }, &failure);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(outcome, QByteArray("refused"));
    QCOMPARE(fileBytes(file), old);
#endif
}

void TestSettingsFile::writeThatFailsMidwayKeepsOldFile()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a file-size limit");
#else
    // A file-size limit makes the write itself fail, for root as well.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = quobin::settingsFilePath(dir.path());
    const QByteArray old("3\r\n4\r\n\"old\"\r\n");
    putFile(file, old);

    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto restore = qScopeGuard([&] {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    });

    const StoredSettings big = settings(0, 5, QString(1000, QLatin1Char('p')));
    QVERIFY_THROWS_EXCEPTION(quobin::SettingsError, quobin::writeSettingsFile(file, big));
    QCOMPARE(fileBytes(file), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"quobin.ini"});
#endif
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "TestSettingsFile.moc"
