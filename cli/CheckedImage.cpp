#include "CheckedImage.h"

#include "Command.h"
#include "FirmwareCheck.h"
#include "FirmwareImage.h"

#include <QFileInfo>

namespace quobin::cli {

station::StationJob readCheckedImage(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw UsageError(QStringLiteral("%1: no such file").arg(path));
    if (info.isDir())
        throw UsageError(QStringLiteral("%1: is a folder, not a firmware file").arg(path));
    try {
        station::StationJob job = station::StationJob::read(path);
        const FirmwareCheckReport report = checkFirmwareImage(*job.image());
        if (!report.passed()) {
            QString text = QStringLiteral("%1 fails the check; a station flashes only a file that passes:").arg(path);
            const QStringList failures = report.failures();
            for (qsizetype i = 0; i < failures.size() && i < 10; ++i)
                text += QStringLiteral("\n  ") + failures[i];
            throw UsageError(text);
        }
        return job;
    } catch (const FirmwareFileError &error) {
        throw UsageError(QStringLiteral("%1: %2").arg(path, QString::fromStdString(error.what())));
    }
}

} // namespace quobin::cli
