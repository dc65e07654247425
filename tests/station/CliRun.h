#pragma once

// quobin-cli run to its end by the station tests that drive it command by
// command (jobs, board IDs). QUOBIN_CLI names the program.

#include "StationRig.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace quobin::testing {

struct CliResult {
    int status = -1; // -1: it did not end by itself within kBoardMsecs
    QString out;
    QString err;
};

inline CliResult runCli(const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUOBIN_CLI), arguments);
    CliResult result;
    if (!process.waitForFinished(kBoardMsecs) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.status = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

} // namespace quobin::testing
