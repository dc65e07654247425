#include "ApprovedJobSupply.h"

#include "FirmwareImage.h"
#include "JobStore.h"
#include "RecordSchema.h"
#include "SerialPlace.h"
#include "SerialSpec.h"
#include "StationJob.h"

#include <QCryptographicHash>

namespace quobin::station {

std::optional<ErrorPolicy> errorPolicyNamed(const QString &name)
{
    if (name == QLatin1String("stop"))
        return ErrorPolicy::Stop;
    if (name == QLatin1String("continue"))
        return ErrorPolicy::Continue;
    return std::nullopt;
}

ApprovedJobSupply::ApprovedJobSupply(records::JobStore &store, QString name)
    : m_store(store), m_name(std::move(name))
{
}

BoardJob ApprovedJobSupply::next()
{
    return checked(true);
}

// Between boards only what the job says of itself is read, not its image:
// a withdrawal, a new version or a changed SHA-256 is seen within a look,
// and the bytes themselves are checked before each board in next().
void ApprovedJobSupply::look()
{
    checked(false);
}

records::ApprovedJob ApprovedJobSupply::details() const
{
    std::lock_guard lock(m_mutex);
    return m_details;
}

BoardJob ApprovedJobSupply::checked(bool withImage)
{
    std::optional<records::ApprovedJob> found = m_store.currentOf(m_name, withImage);
    const QString where = m_store.describe();
    if (!found)
        throw JobStopped(QStringLiteral("there is no approved job %1 in %2").arg(m_name, where));
    const records::ApprovedJob &job = *found;
    if (job.isWithdrawn())
        throw JobStopped(QStringLiteral("the job %1 (version %2) was withdrawn by %3 at %4: no new board is flashed"
                                        " from it")
                             .arg(m_name).arg(job.version)
                             .arg(job.withdrawnBy, records::schema::timeText(job.withdrawn)));
    const QString actual = withImage
        ? QString::fromLatin1(QCryptographicHash::hash(job.image, QCryptographicHash::Sha256).toHex())
        : job.sha256;
    if (actual != job.sha256)
        throw JobStopped(QStringLiteral("the image of job %1 version %2 in %3 does not match the SHA-256 approved"
                                        " with it (%4; its bytes hash to %5): it was changed after approval, and no"
                                        " board is flashed from it")
                             .arg(m_name).arg(job.version).arg(where, job.sha256, actual));

    std::lock_guard lock(m_mutex);
    if (const auto seen = m_seenSha256.constFind(job.version); seen != m_seenSha256.cend() && *seen != job.sha256)
        throw JobStopped(QStringLiteral("the image of job %1 version %2 in %3 has changed since this station read it"
                                        " (SHA-256 %4, now %5): no board is flashed from it")
                             .arg(m_name).arg(job.version).arg(where, *seen, job.sha256));
    m_seenSha256.insert(job.version, job.sha256);
    if (!m_serialFormat)
        m_serialFormat = job.serialFormat;
    if (*m_serialFormat != job.serialFormat)
        throw JobStopped(QStringLiteral("version %1 of job %2 writes serial numbers as '%3', not as this run's '%4':"
                                        " start the station again to flash it")
                             .arg(job.version).arg(m_name, job.serialFormat, *m_serialFormat));
    m_details = job;
    m_details.image.clear();
    m_latest = job.version;
    if (!withImage || (m_built && m_built->version == job.version))
        return m_built.value_or(BoardJob{});

    BoardJob board;
    board.name = m_name;
    board.version = job.version;
    board.job = std::make_shared<const StationJob>(FirmwareImage::fromBytes(job.image, job.fileName));
    const std::optional<ErrorPolicy> policy = errorPolicyNamed(job.onError);
    if (!policy)
        throw JobStopped(QStringLiteral("version %1 of job %2 has an on-error policy '%3' that this Quobin does not"
                                        " know").arg(job.version).arg(m_name, job.onError));
    board.policy = *policy;
    if (!job.serialFormat.isEmpty()) {
        try {
            const SerialSpec format = SerialSpec::parse(job.serialFormat);
            board.serialPlace = std::make_shared<const SerialPlace>(
                SerialPlace::find(*board.job->image(), format.address, format.width));
        } catch (const std::exception &error) {
            throw JobStopped(QStringLiteral("version %1 of job %2: its serial number format '%3' does not fit its"
                                            " image: %4")
                                 .arg(job.version).arg(m_name, job.serialFormat, QString::fromLocal8Bit(error.what())));
        }
    }
    if (!job.boardIdRule.isEmpty()) {
        board.boardIdRule = QRegularExpression(job.boardIdRule);
        if (!board.boardIdRule.isValid())
            throw JobStopped(QStringLiteral("version %1 of job %2: its board ID rule '%3' is no regular expression: %4")
                                 .arg(job.version).arg(m_name, job.boardIdRule, board.boardIdRule.errorString()));
    }
    board.reflashAllowed = job.reflashAllowed;
    m_built = board;
    return board;
}

} // namespace quobin::station
