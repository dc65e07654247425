#pragma once

#include "Command.h"
#include "QuestionDesk.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace quobin::cli {

// One port to upload to: how the operator named it, and the device opened.
struct PortChoice {
    QString label;   // "Com 3", or the device path as given
    QString device;
};

// The upload command's arguments, checked: every port resolved, no port
// twice, the options in range.
struct UploadArguments {
    QList<PortChoice> ports;
    ErrorPolicy policy = ErrorPolicy::Stop;
    int controllerWaitSeconds = 0;   // 0: no limit
    bool json = false;
    QString logPath;
    bool noCheck = false;
    QString firmwarePath;

    // Throws UsageError. stdinIsTerminal picks the default error policy.
    static UploadArguments parse(const QStringList &arguments, const CliContext &context,
                                 bool stdinIsTerminal);
};

// "Com 3", "com3" or "3" as the window maps it, or an existing device path.
// Throws UsageError for anything else.
PortChoice resolvePort(const QString &text, const QStringList &linkFolders);

} // namespace quobin::cli
