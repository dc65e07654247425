#include "JobApproval.h"

#include "ApprovedJobSupply.h"
#include "FirmwareCheck.h"
#include "FirmwareImage.h"
#include "SerialPlace.h"
#include "SerialSpec.h"
#include "StationJob.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace quobin {

namespace {

[[noreturn]] void refuse(const QString &why)
{
    throw JobApprovalError(why.toStdString());
}

} // namespace

records::ApprovedJob jobToApprove(const JobApprovalRequest &request)
{
    static const QRegularExpression nameForm(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    if (!nameForm.match(request.name).hasMatch())
        refuse(QStringLiteral("A job's name is letters, digits, '.', '_' and '-', up to 64, not '%1'.").arg(request.name));
    if (!station::errorPolicyNamed(request.onError))
        refuse(QStringLiteral("On error is stop or continue, not '%1'.").arg(request.onError));
    if (!request.boardIdRule.isEmpty()) {
        const QRegularExpression rule(request.boardIdRule);
        if (!rule.isValid())
            refuse(QStringLiteral("The board ID rule '%1' is no regular expression: %2 at character %3.")
                       .arg(request.boardIdRule, rule.errorString())
                       .arg(rule.patternErrorOffset() + 1));
        if (rule.match(QString()).hasMatch())
            refuse(QStringLiteral("The board ID rule '%1' matches an empty ID: give a rule that every label matches"
                                  " and nothing else, e.g. ^QB[0-9]{8}$.").arg(request.boardIdRule));
    } else if (request.reflashAllowed) {
        refuse(QStringLiteral("Re-flashing needs a board ID rule: without board IDs no board is known to have passed"
                              " before."));
    }

    const QString path = QFileInfo(request.imagePath).absoluteFilePath();
    if (request.imagePath.trimmed().isEmpty())
        refuse(QStringLiteral("No image file chosen."));
    std::optional<station::StationJob> image;
    try {
        image.emplace(station::StationJob::read(path));
    } catch (const FirmwareFileError &e) {
        refuse(QStringLiteral("The image %1 cannot be read: %2").arg(path, QString::fromStdString(e.what())));
    }
    const QStringList failures = checkFirmwareImage(*image->image()).failures();
    if (!failures.isEmpty())
        refuse(QStringLiteral("The image %1 fails the check; a station flashes only a file that passes:\n%2")
                   .arg(path, failures.mid(0, 10).join(QLatin1Char('\n'))));
    if (!request.serialFormat.isEmpty()) {
        try {
            const SerialSpec format = SerialSpec::parse(request.serialFormat);
            SerialPlace::find(*image->image(), format.address, format.width);
        } catch (const SerialSpecError &e) {
            refuse(QStringLiteral("Serial numbers %1: %2").arg(request.serialFormat, QString::fromStdString(e.what())));
        } catch (const SerialPlaceError &e) {
            refuse(QStringLiteral("Serial numbers %1: %2: %3")
                       .arg(request.serialFormat, image->fileName(), QString::fromStdString(e.what())));
        }
    }

    records::ApprovedJob job;
    job.name = request.name;
    job.fileName = image->fileName();
    job.image = image->image()->bytes();
    job.sha256 = image->sha256();
    job.lines = image->linesToSend();
    job.size = job.image.size();
    job.serialFormat = request.serialFormat;
    job.onError = request.onError;
    job.boardIdRule = request.boardIdRule;
    job.reflashAllowed = request.reflashAllowed;
    return job;
}

} // namespace quobin
