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

} // namespace

QString StorageFolders::writeFolder() const
{
    return programFolderWritable ? programFolder : userFolder;
}

QStringList StorageFolders::linkFolders() const
{
    if (programFolderWritable)
        return {programFolder};
    return {programFolder, userFolder};
}

bool StorageFolders::makeWriteFolder() const
{
    return QDir().mkpath(writeFolder());
}

StorageFolders storageFoldersFor(const QString &programFolder, const QProcessEnvironment &env)
{
    return StorageFolders{programFolder, perUserFolder(env), userMayWrite(programFolder)};
}

} // namespace quobin
