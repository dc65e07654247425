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

    // A program below the system prefix keeps nothing beside itself, even
    // for a user who may write its folder (root, or the folder's owner): the
    // settings file and the links live in the per-user folder, where a
    // missing file is a first start.
    void aSystemInstallUsesThePerUserFolderWhoeverRunsIt_data()
    {
        QTest::addColumn<bool>("unprivileged");
        QTest::addColumn<bool>("writable");
        QTest::newRow("as root") << false << true;
        QTest::newRow("as the folder's unprivileged owner") << true << true;
        QTest::newRow("as an unprivileged user") << true << false;
    }
    void aSystemInstallUsesThePerUserFolderWhoeverRunsIt()
    {
        QFETCH(bool, unprivileged);
        QFETCH(bool, writable);
        const QString prefix = makeFolder(m_root.filePath(QStringLiteral("usr")), false);
        const QString program = makeFolder(prefix + QStringLiteral("/bin"), writable);
        const QString home = m_root.filePath(QStringLiteral("home"));
        const auto decide = [&] {
            const StorageFolders folders = storageFoldersFor(program, envWith(home), prefix);
            const SettingsLocation settings = folders.settingsLocation();
            return describe(folders) + '|' + settings.path.toUtf8()
                + (settings.missingFileIsFirstStart ? "|first start" : "|reported");
        };
        const QByteArray seen = unprivileged ? asUser(decide) : decide();
        const QString user = home + QStringLiteral("/.config/quobin");
        QCOMPARE(seen, QStringLiteral("%1|%2|%2|%2/quobin.ini|first start")
                           .arg(writable ? QStringLiteral("writable") : QStringLiteral("read-only"), user)
                           .toUtf8());
    }

    void theSystemPrefixIsMatchedByWholeFoldersAfterLinks_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("system");
        QTest::newRow("the prefix itself") << QStringLiteral("usr") << true;
        QTest::newRow("below it") << QStringLiteral("usr/local/bin") << true;
        QTest::newRow("below it, not made") << QStringLiteral("usr/lib/gone") << true;
        QTest::newRow("a link into it") << QStringLiteral("bin") << true;
        QTest::newRow("a name that starts alike") << QStringLiteral("usrlocal/bin") << false;
        QTest::newRow("out of it by ..") << QStringLiteral("usr/../opt/quobin") << false;
    }
    void theSystemPrefixIsMatchedByWholeFoldersAfterLinks()
    {
        QFETCH(QString, program);
        QFETCH(bool, system);
        const QDir root(m_root.path());
        for (const char *folder : {"usr/local/bin", "usrlocal/bin", "opt/quobin"})
            QVERIFY(root.mkpath(QLatin1String(folder)));
        QVERIFY(QFile::link(root.filePath(QStringLiteral("usr/local/bin")), root.filePath(QStringLiteral("bin"))));
        const StorageFolders folders
            = storageFoldersFor(root.filePath(program), envWith(QStringLiteral("/home/op")), root.filePath("usr"));
        QCOMPARE(folders.systemInstall, system);
        QCOMPARE(folders.writeFolder() == folders.userFolder, system);
    }

    // The programs themselves ask with the real prefix: reading the decision
    // writes nothing.
    void theProgramsTakeUsrAsTheSystemPrefix()
    {
        const QString home = m_root.filePath(QStringLiteral("home"));
        const QString user = home + QStringLiteral("/.config/quobin");
        for (const QString &program : {QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin")}) {
            const StorageFolders folders = storageFoldersFor(program, envWith(home));
            QVERIFY2(folders.systemInstall, qPrintable(program));
            QCOMPARE(folders.writeFolder(), user);
            QCOMPARE(folders.linkFolders(), QStringList{user});
        }
        QVERIFY(!storageFoldersFor(m_root.path(), envWith(home)).systemInstall);
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
