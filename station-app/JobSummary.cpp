#include "JobSummary.h"

#include "FirmwareCheck.h"
#include "FirmwareImage.h"

#include <QFileInfo>

namespace quobin {

JobSummary summariseJob(const QString &path)
{
    JobSummary job;
    if (path.trimmed().isEmpty()) {
        job.problems << QStringLiteral("No job file chosen.");
        return job;
    }
    job.name = QFileInfo(path).fileName();
    try {
        // One reading, as the station reads it: the hash and the check are
        // of the same bytes.
        const std::shared_ptr<const FirmwareImage> image = FirmwareImage::read(path);
        job.sha256 = QString::fromLatin1(image->sha256Hex());
        job.problems << checkFirmwareImage(*image).failures();
    } catch (const FirmwareFileError &e) {
        job.problems << QStringLiteral("The file cannot be read: %1").arg(QString::fromStdString(e.what()));
    }
    return job;
}

} // namespace quobin
