#include "OperatorReason.h"

namespace quobin {

namespace {

// Bootloaders from this version on get a refused line three times.
constexpr float kResendingVersion = 1.28f;

QString refusedLine(const records::BoardRecord &record, const records::RecordedQuestion &question)
{
    const QString line = QString::number(question.lineNumber);
    if (question.reason == QLatin1String("Checksum error"))
        return record.bootloaderVersion >= kResendingVersion
            ? QStringLiteral("The controller rejected line %1 three times").arg(line)
            : QStringLiteral("The controller rejected line %1").arg(line);
    if (question.reason == QLatin1String("Error writing to flash"))
        return QStringLiteral("The controller could not write line %1 into its flash").arg(line);
    if (question.reason == QLatin1String("No response"))
        return QStringLiteral("No answer from the controller to line %1").arg(line);
    return QStringLiteral("Line %1: %2").arg(line, question.reason);
}

} // namespace

QString operatorReason(const records::BoardRecord &record, bool deviceThere)
{
    const QString &result = record.result;
    if (record.passed() || result == QLatin1String("cancelled"))
        return {};
    if (!deviceThere)
        return QStringLiteral("Adapter unplugged");
    if (result == QLatin1String("no-response") || result == QLatin1String("no-controller"))
        return QStringLiteral("No answer from the controller");
    if (result == QLatin1String("stopped") || result == QLatin1String("completed-with-errors")) {
        for (const records::RecordedQuestion &question : record.questions)
            if (!question.answeredYes || result == QLatin1String("completed-with-errors"))
                return refusedLine(record, question);
    }
    if (result == QLatin1String("no-end-confirmation"))
        return QStringLiteral("The controller did not confirm the end of the image");
    if (result == QLatin1String("port-error"))
        return QStringLiteral("The adapter cannot be used");
    if (result == QLatin1String("file-error"))
        return QStringLiteral("The job file cannot be read");
    return record.message.isEmpty() ? QStringLiteral("The transfer failed") : record.message;
}

} // namespace quobin
