#include "StorageFolders.h"

#include <QDir>
#include <QFileInfo>

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
    return QFileInfo(folder).isWritable();
#endif
}

QString perUserFolder(const QProcessEnvironment &env)
{
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
    const QString inner = resolved(folder);
    QString outer = resolved(prefix);
    if (inner == outer)
        return true;
    if (!outer.endsWith(QLatin1Char('/')))
        outer += QLatin1Char('/');
    return inner.startsWith(outer);
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
    return StorageFolders{programFolder, perUserFolder(env), userMayWrite(programFolder),
                          isAtOrBelow(programFolder, systemPrefix)};
}

} // namespace quobin
