// Where the Windows programs keep their files, run under Wine: a portable
// folder keeps quobin.ini beside the program, an install under Program Files
// keeps it in %APPDATA%\Quobin and never writes into Program Files, records
// go to %LOCALAPPDATA%\Quobin, and every path keeps its non-ASCII characters.
#include "RecordStores.h"
#include "SettingsFile.h"
#include "StorageFolders.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

using namespace quobin;

class TestWindowsFiles : public QObject {
    Q_OBJECT

private slots:
    void init();
    void portableFolderKeepsSettingsBesideProgram();
    void programFilesInstallUsesAppData();
    void installedCopyUsesAppDataWherever();
    void settingsFileHasThreeCrLfLines();
    void recordsGoToLocalAppData();
    void nonAsciiPathsKeepEveryCharacter();
    void aFileInTheAnsiCodePageIsWrittenBackAsItCame();

private:
    QProcessEnvironment environment() const;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestWindowsFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

// A profile and a Program Files of the test's own.
QProcessEnvironment TestWindowsFiles::environment() const
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("APPDATA"), QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("Roaming"))));
    env.insert(QStringLiteral("LOCALAPPDATA"), QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("Local"))));
    env.insert(QStringLiteral("ProgramFiles"), QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("Program Files"))));
    env.insert(QStringLiteral("ProgramFiles(x86)"),
               QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("Program Files (x86)"))));
    return env;
}

void TestWindowsFiles::portableFolderKeepsSettingsBesideProgram()
{
    const QString folder = m_dir->filePath(QStringLiteral("Tools/Quobin"));
    QVERIFY(QDir().mkpath(folder));
    const StorageFolders folders = storageFoldersFor(folder, environment());
    QVERIFY(folders.portable());
    QCOMPARE(QDir(folders.writeFolder()), QDir(folder));
    QCOMPARE(QDir(QFileInfo(folders.settingsLocation().path).absolutePath()), QDir(folder));
    QVERIFY(!folders.settingsLocation().missingFileIsFirstStart);
    // The probe that found the folder writable leaves nothing behind.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestWindowsFiles::programFilesInstallUsesAppData()
{
    for (const QString &programFiles : {QStringLiteral("Program Files"), QStringLiteral("program files (x86)")}) {
        const QString folder = m_dir->filePath(programFiles + QStringLiteral("/Quobin"));
        QVERIFY(QDir().mkpath(folder));
        const StorageFolders folders = storageFoldersFor(folder, environment());
        QVERIFY2(folders.systemInstall, qPrintable(folder));
        QVERIFY(!folders.portable());
        QCOMPARE(QDir(folders.writeFolder()), QDir(m_dir->filePath(QStringLiteral("Roaming/Quobin"))));
        QVERIFY(folders.settingsLocation().missingFileIsFirstStart);
        QVERIFY(folders.makeWriteFolder());
        writeSettingsFile(folders.settingsLocation().path, StoredSettings{2, 5, QStringLiteral("C:\\fw.hex")});
        // Nothing, not even the probe, was written into Program Files.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
}

// The installer's per-user folder (%LOCALAPPDATA%\Programs\Quobin) is
// writable, but its mark makes it an installation.
void TestWindowsFiles::installedCopyUsesAppDataWherever()
{
    const QString folder = m_dir->filePath(QStringLiteral("Local/Programs/Quobin"));
    QVERIFY(QDir().mkpath(folder));
    QFile mark(QDir(folder).filePath(QString::fromLatin1(kInstalledMark)));
    QVERIFY(mark.open(QIODevice::WriteOnly));
    mark.close();
    const StorageFolders folders = storageFoldersFor(folder, environment());
    QVERIFY(!folders.portable());
    QCOMPARE(QDir(folders.writeFolder()), QDir(m_dir->filePath(QStringLiteral("Roaming/Quobin"))));
}

void TestWindowsFiles::settingsFileHasThreeCrLfLines()
{
    const QString path = settingsFilePath(m_dir->path());
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("quobin.ini"));
    writeSettingsFile(path, StoredSettings{2, 5, QStringLiteral("C:\\Firmware\\main.hex")});
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("2\r\n5\r\n\"C:\\Firmware\\main.hex\"\r\n"));
}

void TestWindowsFiles::recordsGoToLocalAppData()
{
    QCOMPARE(QDir::cleanPath(records::defaultRecordsFile(environment())),
             QDir::cleanPath(m_dir->filePath(QStringLiteral("Local/Quobin/records.sqlite"))));
    // Without LOCALAPPDATA: the profile's own AppData\Local.
    QVERIFY(records::defaultRecordsFile(QProcessEnvironment()).endsWith(QStringLiteral("AppData/Local/Quobin/records.sqlite")));
}

void TestWindowsFiles::nonAsciiPathsKeepEveryCharacter()
{
    const QString folder = m_dir->filePath(QStringLiteral("Prüfstand Ωmega 東京"));
    QVERIFY(QDir().mkpath(folder));
    const StorageFolders folders = storageFoldersFor(folder, environment());
    QVERIFY(folders.portable());
    const StoredSettings stored{1, 5, folder + QStringLiteral("/Fläsh €.hex")};
    writeSettingsFile(folders.settingsLocation().path, stored);
    QCOMPARE(readSettingsFile(folders.settingsLocation().path), stored);
}

// Older tools on the same PC write quobin.ini in the system's ANSI code page
// (1252 here, as on a Western European Windows).
void TestWindowsFiles::aFileInTheAnsiCodePageIsWrittenBackAsItCame()
{
    const QString path = settingsFilePath(m_dir->path());
    const QByteArray ansi("3\r\n5\r\n\"C:\\Pumpen\\Pumpe f\xfcr Halle 3.hex\"\r\n");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ansi);
    }
    StoredSettings read = readSettingsFile(path);
    QCOMPARE(read.firmwarePath, QStringLiteral("C:\\Pumpen\\Pumpe f\u00fcr Halle 3.hex"));
    QVERIFY(read.pathInLegacyCodePage);
    writeSettingsFile(path, read);
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), ansi);
    written.close();

    // A path the operator changed to one the code page cannot hold is
    // written in UTF-8 and reads back whole.
    read.firmwarePath = QStringLiteral("C:\\\u6771\u4eac\\Pumpe f\u00fcr Halle 3.hex");
    writeSettingsFile(path, read);
    const StoredSettings again = readSettingsFile(path);
    QCOMPARE(again.firmwarePath, read.firmwarePath);
    QVERIFY(!again.pathInLegacyCodePage);

    // A file in UTF-8 stays UTF-8, and ASCII byte for byte.
    const QByteArray utf8("0\r\n5\r\n\"C:\\Pumpe f\xc3\xbcr Halle 3.hex\"\r\n");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(utf8);
    }
    const StoredSettings fromUtf8 = readSettingsFile(path);
    QVERIFY(!fromUtf8.pathInLegacyCodePage);
    QCOMPARE(formatSettings(fromUtf8), utf8);
}

QTEST_GUILESS_MAIN(TestWindowsFiles)
#include "tst_windows_files.moc"
