#include "JobSummary.h"

#include "FirmwareCheck.h"
#include "FirmwareFile.h"

#include <QCryptographicHash>
#include <QFile>
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        job.problems << QStringLiteral("The file cannot be read: %1").arg(file.errorString());
        return job;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) {
        job.problems << QStringLiteral("The file cannot be read: %1").arg(file.errorString());
        return job;
    }
    job.sha256 = QString::fromLatin1(hash.result().toHex());
    try {
        job.problems << checkFirmwareFile(path).failures();
    } catch (const FirmwareFileError &e) {
        job.problems << QString::fromStdString(e.what());
    }
    return job;
}

} // namespace quobin
