#include "StationJob.h"

#include "FirmwareImage.h"

#include <QFile>
#include <QFileInfo>

namespace quobin::station {

StationJob StationJob::read(const QString &path)
{
    return StationJob(FirmwareImage::read(path));
}

StationJob::StationJob(std::shared_ptr<const FirmwareImage> image)
    : m_image(std::move(image))
{
    for (const auto &line : m_image->lines()) {
        if (!line.isEmpty())
            ++m_linesToSend;
    }
}

QString StationJob::path() const
{
    return m_image->path();
}

QString StationJob::fileName() const
{
    return QFileInfo(m_image->path()).fileName();
}

QString StationJob::sha256() const
{
    return m_image->sha256Hex();
}

JobFileWatch::JobFileWatch(const StationJob &job)
    : m_job(job)
{
    const QFileInfo info(job.path());
    m_size = info.size();
    m_modified = info.lastModified().toMSecsSinceEpoch();
}

// The file is read again only when its size or time says it may have
// changed; a rewrite with the same bytes is no change.
QString JobFileWatch::check()
{
    if (m_warned)
        return {};
    QFileInfo info(m_job.path());
    if (!info.exists()) {
        m_warned = true;
        return QStringLiteral("%1 has gone from the disk; every board still gets the image read at start (SHA-256 %2)")
            .arg(m_job.path(), m_job.sha256());
    }
    const qint64 modified = info.lastModified().toMSecsSinceEpoch();
    if (info.size() == m_size && modified == m_modified)
        return {};
    m_size = info.size();
    m_modified = modified;
    QFile file(m_job.path());
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (bytes == m_job.image()->bytes())
        return {};
    m_warned = true;
    return QStringLiteral("%1 has changed on the disk; every board still gets the image read at start (SHA-256 %2)")
        .arg(m_job.path(), m_job.sha256());
}

} // namespace quobin::station
