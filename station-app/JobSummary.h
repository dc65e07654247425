#pragma once

#include <QString>
#include <QStringList>

namespace quobin {

// A job file as the set-up shows it: its name, its SHA-256 and why an
// upload would refuse it.
struct JobSummary {
    QString name;       // the file name without its folder
    QString sha256;     // lower-case hex; empty when the file cannot be read
    QStringList problems;  // empty when the file can be flashed

    bool usable() const { return !sha256.isEmpty() && problems.isEmpty(); }
};

// Reads and checks the file at path now. Never throws: a file that cannot
// be read is a problem like any other.
JobSummary summariseJob(const QString &path);

} // namespace quobin
