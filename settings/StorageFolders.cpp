#include "StorageFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace quobin {

namespace {

// Whether this user may create files in folder. access() asks with the real
// user's rights, which is what a later open() will meet.
bool userMayWrite(const QString &folder)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
#else
    // Windows' rights are lists of entries that no attribute sums up: the
    // one sure answer is to make a file there, which goes again at once.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral("quobin-XXXXXX.tmp")));
    return probe.open();
#endif
}

QString perUserFolder(const QProcessEnvironment &env)
{
#ifdef Q_OS_WIN
    // %APPDATA%\Quobin, the roaming profile's folder for programs' settings.
    const QString appData = QDir::fromNativeSeparators(env.value(QStringLiteral("APPDATA")));
    if (QDir::isAbsolutePath(appData))
        return QDir(appData).filePath(QStringLiteral("Quobin"));
    return QDir::home().filePath(QStringLiteral("AppData/Roaming/Quobin"));
#endif
    // An XDG_CONFIG_HOME that is not absolute is to be ignored.
    const QString configHome = env.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (QDir::isAbsolutePath(configHome))
        return QDir(configHome).filePath(QStringLiteral("quobin"));
    QString home = env.value(QStringLiteral("HOME"));
    if (home.isEmpty())
        home = QDir::homePath();
    return QDir(home).filePath(QStringLiteral(".config/quobin"));
}

// The folder with its symbolic links resolved (/bin is /usr/bin on a merged
// system); a folder that does not exist is only made absolute and clean.
QString resolved(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(folder).absolutePath()) : canonical;
}

bool isAtOrBelow(const QString &folder, const QString &prefix)
{
    // Windows' file names are the same in any case.
    const Qt::CaseSensitivity cs = QDir(QStringLiteral("A")) == QDir(QStringLiteral("a")) ? Qt::CaseInsensitive
                                                                                             : Qt::CaseSensitive;
    const QString inner = resolved(folder);
    QString outer = resolved(prefix);
    if (inner.compare(outer, cs) == 0)
        return true;
    if (!outer.endsWith(QLatin1Char('/')))
        outer += QLatin1Char('/');
    return inner.startsWith(outer, cs);
}

// The folders that system installs live in: the system prefix on Linux; on
// Windows the Program Files folders (the 64-bit and the 32-bit one), which
// only an administrator writes and a program never writes into.
QStringList systemPrefixes(const QProcessEnvironment &env, const QString &systemPrefix)
{
#ifdef Q_OS_WIN
    QStringList prefixes;
    for (const char *name : {"ProgramFiles", "ProgramW6432", "ProgramFiles(x86)"}) {
        const QString folder = QDir::fromNativeSeparators(env.value(QString::fromLatin1(name)));
        if (QDir::isAbsolutePath(folder))
            prefixes << folder;
    }
    if (systemPrefix != QLatin1String(kSystemPrefix))
        prefixes << systemPrefix;
    return prefixes;
#else
    Q_UNUSED(env);
    return {systemPrefix};
#endif
}

} // namespace

bool StorageFolders::portable() const
{
    return programFolderWritable && !systemInstall;
}

QString StorageFolders::writeFolder() const
{
    return portable() ? programFolder : userFolder;
}

QStringList StorageFolders::linkFolders() const
{
    if (portable())
        return {programFolder};
    if (systemInstall)
        return {userFolder};
    return {programFolder, userFolder};
}

SettingsLocation StorageFolders::settingsLocation() const
{
    return SettingsLocation(settingsFilePath(writeFolder()), !portable());
}

bool StorageFolders::makeWriteFolder() const
{
    return QDir().mkpath(writeFolder());
}

StorageFolders storageFoldersFor(const QString &programFolder, const QProcessEnvironment &env,
                                 const QString &systemPrefix)
{
    bool systemInstall = false;
    for (const QString &prefix : systemPrefixes(env, systemPrefix))
        systemInstall = systemInstall || isAtOrBelow(programFolder, prefix);
#ifdef Q_OS_WIN
    // The installer may put the programs into a per-user folder that the
    // user can write; its mark there says that this is no portable folder.
    systemInstall = systemInstall || QFileInfo::exists(QDir(programFolder).filePath(QString::fromLatin1(kInstalledMark)));
#endif
#ifdef Q_OS_WIN
    // Program Files is not even tried: the probe would write there.
    const bool writable = !systemInstall && userMayWrite(programFolder);
#else
    const bool writable = userMayWrite(programFolder);
#endif
    return StorageFolders{programFolder, perUserFolder(env), writable, systemInstall};
}

} // namespace quobin
