#include "RecordJson.h"

#include "RecordSchema.h"

#include <QJsonArray>

#include <cmath>

namespace quobin::records {

namespace {

// A JSON number is a double: a serial past 2^53 is written as text, so that
// no digit is lost.
QJsonValue serialJson(const std::optional<quint64> &serial)
{
    if (!serial)
        return QJsonValue::Null;
    if (*serial <= (quint64(1) << 53))
        return double(*serial);
    return QString::number(*serial);
}

} // namespace

QJsonObject recordJson(const BoardRecord &r)
{
    QJsonArray questions;
    for (const RecordedQuestion &question : r.questions)
        questions.append(QJsonObject{{QStringLiteral("line"), question.lineNumber},
                                     {QStringLiteral("reason"), question.reason},
                                     {QStringLiteral("answer"), question.answeredYes ? QStringLiteral("yes")
                                                                                     : QStringLiteral("no")}});
    return QJsonObject{
        {QStringLiteral("id"), r.id.toString(QUuid::WithoutBraces)},
        {QStringLiteral("station"), r.station},
        {QStringLiteral("slot"), r.slot},
        {QStringLiteral("device"), r.device},
        {QStringLiteral("usbSerial"), r.usbSerial},
        {QStringLiteral("byIdName"), r.byIdName},
        {QStringLiteral("jobSha256"), r.jobSha256},
        {QStringLiteral("jobFile"), r.jobFile},
        {QStringLiteral("started"), schema::timeText(r.started)},
        {QStringLiteral("ended"), schema::timeText(r.ended)},
        {QStringLiteral("seconds"), std::round(r.seconds * 1000) / 1000},
        // A float's 1.28 would print as 1.2799999713897705.
        {QStringLiteral("bootloaderVersion"), std::round(double(r.bootloaderVersion) * 1000) / 1000},
        {QStringLiteral("result"), r.result},
        {QStringLiteral("message"), r.message},
        {QStringLiteral("detail"), r.detail},
        {QStringLiteral("linesSent"), r.linesSent},
        {QStringLiteral("resends"), r.resends},
        {QStringLiteral("questions"), questions},
        {QStringLiteral("quobinVersion"), r.quobinVersion},
        {QStringLiteral("logPath"), r.logPath},
        {QStringLiteral("series"), r.series},
        {QStringLiteral("serial"), serialJson(r.serial)},
    };
}

QJsonObject summaryJson(const RecordSummary &s)
{
    QJsonObject failed;
    for (auto it = s.failedByResult.cbegin(); it != s.failedByResult.cend(); ++it)
        failed.insert(it.key(), it.value());
    return QJsonObject{
        {QStringLiteral("jobSha256"), s.jobSha256},
        {QStringLiteral("jobFile"), s.jobFile},
        {QStringLiteral("station"), s.station},
        {QStringLiteral("slot"), s.slot},
        {QStringLiteral("boards"), s.boards},
        {QStringLiteral("passed"), s.passed},
        {QStringLiteral("failed"), failed},
        {QStringLiteral("cancelled"), s.cancelled},
        {QStringLiteral("firstPassYield"), std::round(s.firstPassYield() * 10000) / 10000},
    };
}

} // namespace quobin::records
