// Where quobin.ini and the comN links live: beside a program the user can
// write to, else in the per-user folder. Permissions are checked as an
// ordinary user (as nobody when the tests run as root).

#include "PortNames.h"
#include "SettingsFile.h"
#include "StorageFolders.h"
#include "Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace quobin;
using quobin::testing::runUnprivileged;

namespace {

QProcessEnvironment envWith(const QString &home, const QString *configHome = nullptr)
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), home);
    if (configHome)
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), *configHome);
    return env;
}

// The decision as one line of text, so that it can come back from a child.
QByteArray describe(const StorageFolders &folders)
{
    return QStringLiteral("%1|%2|%3")
        .arg(folders.programFolderWritable ? QStringLiteral("writable") : QStringLiteral("read-only"),
             folders.writeFolder(), folders.linkFolders().join(QLatin1Char(';')))
        .toUtf8();
}

// A folder of the test's own that the unprivileged user may enter and, when
// writable, write to; a read-only one belongs to someone else (root), or has
// no write permission when the tests run as an ordinary user.
QString makeFolder(const QString &path, bool writable)
{
    QDir().mkpath(path);
    if (::geteuid() == 0) {
        if (writable && ::chown(QFile::encodeName(path).constData(), quobin::testing::unprivilegedUid,
                                quobin::testing::unprivilegedGid) != 0)
            qWarning("chown %s failed", qPrintable(path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                        | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    } else {
        QFile::Permissions mode = QFile::ReadOwner | QFile::ExeOwner;
        if (writable)
            mode |= QFile::WriteOwner;
        QFile::setPermissions(path, mode);
    }
    return path;
}

} // namespace

class TestStorageFolders : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_root.isValid());
        // The unprivileged user must be able to reach the folders below.
        QFile::setPermissions(m_root.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                 | QFile::ReadOther | QFile::ExeOther);
    }
    void cleanup()
    {
        // Give every folder back to the owner, so that the temporary folder can go.
        QDir(m_root.path()).removeRecursively();
        QDir().mkpath(m_root.path());
    }

    void perUserFolderFollowsXdgConfigHome_data()
    {
        QTest::addColumn<bool>("set");
        QTest::addColumn<QString>("configHome");
        QTest::addColumn<QString>("expected");
        QTest::newRow("absolute") << true << QStringLiteral("/srv/cfg") << QStringLiteral("/srv/cfg/quobin");
        QTest::newRow("relative is ignored") << true << QStringLiteral("cfg")
                                             << QStringLiteral("/home/op/.config/quobin");
        QTest::newRow("empty") << true << QString() << QStringLiteral("/home/op/.config/quobin");
        QTest::newRow("unset") << false << QString() << QStringLiteral("/home/op/.config/quobin");
    }
    void perUserFolderFollowsXdgConfigHome()
    {
        QFETCH(bool, set);
        QFETCH(QString, configHome);
        QFETCH(QString, expected);
        const QProcessEnvironment env = envWith(QStringLiteral("/home/op"), set ? &configHome : nullptr);
        QCOMPARE(storageFoldersFor(m_root.path(), env).userFolder, expected);
    }

    void writableProgramFolderKeepsEverythingBesideTheProgram()
    {
        const QString program = makeFolder(m_root.filePath(QStringLiteral("portable quobin")), true);
        const QString home = m_root.filePath(QStringLiteral("home"));
        const QByteArray seen = asUser([&] { return describe(storageFoldersFor(program, envWith(home))); });
        QCOMPARE(seen, QStringLiteral("writable|%1|%1").arg(program).toUtf8());
    }

    void unwritableProgramFolderUsesThePerUserFolder()
    {
        const QString program = makeFolder(m_root.filePath(QStringLiteral("usr/bin")), false);
        const QString home = m_root.filePath(QStringLiteral("home"));
        const QString user = home + QStringLiteral("/.config/quobin");
        const QByteArray seen = asUser([&] { return describe(storageFoldersFor(program, envWith(home))); });
        // Links are looked up beside the program first, then in the per-user folder.
        QCOMPARE(seen, QStringLiteral("read-only|%1|%2;%1").arg(user, program).toUtf8());
    }

    void missingProgramFolderUsesThePerUserFolder()
    {
        const QString home = m_root.filePath(QStringLiteral("home"));
        const StorageFolders folders = storageFoldersFor(m_root.filePath(QStringLiteral("gone")), envWith(home));
        QVERIFY(!folders.programFolderWritable);
        QCOMPARE(folders.writeFolder(), home + QStringLiteral("/.config/quobin"));
    }

    // A system install makes the per-user folder and saves the file there,
    // with the same name and format as beside the program.
    void systemInstallSavesIntoANewPerUserFolder()
    {
        const QString program = makeFolder(m_root.filePath(QStringLiteral("usr/bin")), false);
        const QString home = makeFolder(m_root.filePath(QStringLiteral("home")), true);
        StoredSettings stored;
        stored.comPortPosition = 2;
        stored.baudRatePosition = 3;
        stored.firmwarePath = QStringLiteral("/fw/main.hex");
        const QByteArray written = asUser([&]() -> QByteArray {
            const StorageFolders folders = storageFoldersFor(program, envWith(home));
            const QString path = settingsFilePath(folders.writeFolder());
            if (!folders.makeWriteFolder())
                return QByteArray("the per-user folder was not made");
            try {
                writeSettingsFile(path, stored);
                return readSettingsFile(path) == stored ? path.toUtf8() : QByteArray("read back differs");
            } catch (const SettingsError &error) {
                return QByteArray("failed: ") + error.what();
            }
        });
        const QString expected = home + QStringLiteral("/.config/quobin/quobin.ini");
        QCOMPARE(written, expected.toUtf8());
        QFile file(expected);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("2\r\n3\r\n\"/fw/main.hex\"\r\n"));
        QVERIFY(!QFile::exists(settingsFilePath(program)));
    }

    // A home that the user cannot write: no folder, and the save that
    // follows fails (and is reported with its path by the window).
    void aPerUserFolderThatCannotBeMadeIsSaidSo()
    {
        const QString program = makeFolder(m_root.filePath(QStringLiteral("usr/bin")), false);
        const QString home = makeFolder(m_root.filePath(QStringLiteral("locked home")), false);
        const QByteArray outcome = asUser([&]() -> QByteArray {
            const StorageFolders folders = storageFoldersFor(program, envWith(home));
            if (folders.makeWriteFolder())
                return "made";
            try {
                writeSettingsFile(settingsFilePath(folders.writeFolder()), StoredSettings{});
                return "saved";
            } catch (const SettingsError &) {
                return "not made, save refused";
            }
        });
        QCOMPARE(outcome, QByteArray("not made, save refused"));
    }

    void aLinkBesideTheProgramWinsOverOneInThePerUserFolder()
    {
        const QString program = m_root.filePath(QStringLiteral("usr/bin"));
        const QString user = m_root.filePath(QStringLiteral("home/.config/quobin"));
        QVERIFY(QDir().mkpath(program) && QDir().mkpath(user));
        const StorageFolders folders{program, user, false};
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), user + QStringLiteral("/com3")));
        QCOMPARE(portMappingFor(3, folders.linkFolders()).link, user + QStringLiteral("/com3"));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), program + QStringLiteral("/com3")));
        const PortMapping beside = portMappingFor(3, folders.linkFolders());
        QCOMPARE(beside.link, program + QStringLiteral("/com3"));
        QCOMPARE(beside.device, QStringLiteral("/dev/zero"));
        QCOMPARE(portNameFor(4, folders.linkFolders()), QStringLiteral("/dev/ttyS3"));
    }

private:
    QByteArray asUser(const std::function<QByteArray()> &work)
    {
        QString failure;
        const QByteArray result = runUnprivileged(work, &failure);
        if (!failure.isEmpty())
            qWarning("%s", qPrintable(failure));
        return result;
    }

    QTemporaryDir m_root;
};

QTEST_GUILESS_MAIN(TestStorageFolders)
#include "tst_storage_folders.moc"
