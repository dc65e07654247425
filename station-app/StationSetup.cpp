#include "StationSetup.h"

#include <QDir>
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
    setup.ports = file.value(QStringLiteral("slots/ports")).toStringList();
    setup.recordsTarget = file.value(QStringLiteral("records/target")).toString();
    setup.stationName = file.value(QStringLiteral("station/name")).toString();
    setup.sound = file.value(QStringLiteral("station/sound"), true).toBool();
    return setup;
}

bool saveStationSetup(const QString &path, const StationSetup &setup)
{
    QSettings file(path, QSettings::IniFormat);
    file.clear();
    file.setValue(QStringLiteral("job/file"), setup.jobPath);
    file.setValue(QStringLiteral("slots/ports"), setup.ports);
    file.setValue(QStringLiteral("records/target"), setup.recordsTarget);
    file.setValue(QStringLiteral("station/name"), setup.stationName);
    file.setValue(QStringLiteral("station/sound"), setup.sound);
    file.sync();
    return file.status() == QSettings::NoError;
}

} // namespace quobin
