#pragma once

#include <QString>
#include <QStringList>

namespace quobin {

// What the operator chose before a run: the job file, the slots (each
// written as for quobin-cli: "Com 3" or a device path such as a
// /dev/serial/by-id/ name), where records go and the station's name.
struct StationSetup {
    QString jobPath;
    QStringList ports;
    QString recordsTarget;  // empty: the default records database
    QString stationName;    // empty: the host name
    bool sound = true;
    QString serialSpec;     // SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]]; empty: no serial numbers
    // An approved job of the records database, flashed instead of the job
    // file; its image, serial numbers and on-error policy are its own, as
    // approved. Empty: the job file.
    QString jobName;

    bool operator==(const StationSetup &) const = default;
};

// quobin-station.ini in folder (the folder quobin keeps quobin.ini in).
QString stationSetupPath(const QString &folder);

// Reads the set-up from an INI file; what is missing or unreadable keeps
// its default. Written with QSettings' INI format, which escapes paths with
// spaces or any character and writes through a temporary file, so a crash
// mid-write never leaves half a file.
StationSetup loadStationSetup(const QString &path);
// A password in recordsTarget is left out; a set-up with a records target is
// written with mode 0600. False when the file cannot be written.
bool saveStationSetup(const QString &path, const StationSetup &setup);

} // namespace quobin
