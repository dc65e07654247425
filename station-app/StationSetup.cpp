#include "StationSetup.h"

#include "ServerTarget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace quobin {

QString stationSetupPath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("quobin-station.ini"));
}

StationSetup loadStationSetup(const QString &path)
{
    StationSetup setup;
    const QSettings file(path, QSettings::IniFormat);
    setup.jobPath = file.value(QStringLiteral("job/file")).toString();
    setup.jobName = file.value(QStringLiteral("job/approved")).toString();
    setup.ports = file.value(QStringLiteral("slots/ports")).toStringList();
    setup.recordsTarget = file.value(QStringLiteral("records/target")).toString();
    setup.stationName = file.value(QStringLiteral("station/name")).toString();
    setup.serialSpec = file.value(QStringLiteral("serial/format")).toString();
    setup.sound = file.value(QStringLiteral("station/sound"), true).toBool();
    return setup;
}

namespace {

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

// A set-up that names a records target (a server, its user, a database
// path) is the owner's alone. QSettings writes through a temporary file that
// takes over the permissions of the file it replaces, so the file is made
// 0600 before the write, and again after it.
void keepPrivate(const QString &path)
{
    QFile file(path);
    if (!file.exists()) {
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return;
        file.close();
    }
    if (QFileInfo(path).isFile())
        file.setPermissions(kOwnerOnly);
}

} // namespace

bool saveStationSetup(const QString &path, const StationSetup &setup)
{
    const bool holdsTarget = !setup.recordsTarget.isEmpty();
    if (holdsTarget)
        keepPrivate(path);
    QSettings file(path, QSettings::IniFormat);
    file.clear();
    file.setValue(QStringLiteral("job/file"), setup.jobPath);
    if (!setup.jobName.isEmpty())
        file.setValue(QStringLiteral("job/approved"), setup.jobName);
    file.setValue(QStringLiteral("slots/ports"), setup.ports);
    // Never a password on disk: libpq finds it in ~/.pgpass or PGPASSWORD.
    file.setValue(QStringLiteral("records/target"), records::ServerTarget::passwordRemoved(setup.recordsTarget));
    file.setValue(QStringLiteral("station/name"), setup.stationName);
    file.setValue(QStringLiteral("serial/format"), setup.serialSpec);
    file.setValue(QStringLiteral("station/sound"), setup.sound);
    file.sync();
    if (holdsTarget && file.status() == QSettings::NoError && QFileInfo(path).isFile())
        QFile::setPermissions(path, kOwnerOnly);
    return file.status() == QSettings::NoError;
}

} // namespace quobin
