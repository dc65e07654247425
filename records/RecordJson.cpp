#include "RecordJson.h"

#include "RecordSchema.h"

#include <QJsonArray>

#include <cmath>

namespace quobin::records {

namespace {

// What serialJson() wrote: a number, or decimal digits for one past 2^53.
std::optional<quint64> serialFrom(const QJsonValue &value)
{
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (number >= 0 && number <= double(quint64(1) << 53) && number == std::floor(number))
            return quint64(number);
        return std::nullopt;
    }
    if (value.isString()) {
        bool ok = false;
        const quint64 number = value.toString().toULongLong(&ok, 10);
        if (ok)
            return number;
    }
    return std::nullopt;
}

} // namespace

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
        {QStringLiteral("socket"), r.socket},
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
        {QStringLiteral("serialSent"), r.serialSent ? QJsonValue(*r.serialSent) : QJsonValue(QJsonValue::Null)},
        // A board of an approved job names it; a run on a file has null.
        {QStringLiteral("job"), r.fromJob() ? QJsonValue(r.jobName) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("jobVersion"), r.jobVersion ? QJsonValue(*r.jobVersion) : QJsonValue(QJsonValue::Null)},
        // The board's label; null when the job asked for none.
        {QStringLiteral("boardId"), r.boardId.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(r.boardId)},
        {QStringLiteral("reflash"), r.reflash},
    };
}

BoardRecord recordFromJson(const QJsonObject &o)
{
    const auto text = [&](const char *key) { return o.value(QLatin1String(key)).toString(); };
    const auto time = [&](const char *key) {
        QDateTime parsed = QDateTime::fromString(text(key), Qt::ISODateWithMs);
        return parsed.toUTC();
    };
    BoardRecord r;
    r.id = QUuid::fromString(text("id"));
    r.station = text("station");
    r.slot = text("slot");
    r.device = text("device");
    r.usbSerial = text("usbSerial");
    r.byIdName = text("byIdName");
    r.socket = text("socket");
    r.jobSha256 = text("jobSha256");
    r.jobFile = text("jobFile");
    r.started = time("started");
    r.ended = time("ended");
    r.seconds = o.value(QLatin1String("seconds")).toDouble();
    r.bootloaderVersion = float(o.value(QLatin1String("bootloaderVersion")).toDouble());
    r.result = text("result");
    r.message = text("message");
    r.detail = text("detail");
    r.linesSent = o.value(QLatin1String("linesSent")).toInt();
    r.resends = o.value(QLatin1String("resends")).toInt();
    const QJsonArray questions = o.value(QLatin1String("questions")).toArray();
    for (const QJsonValue &value : questions) {
        const QJsonObject question = value.toObject();
        r.questions.append({question.value(QLatin1String("line")).toInt(),
                            question.value(QLatin1String("reason")).toString(),
                            question.value(QLatin1String("answer")).toString() == QLatin1String("yes")});
    }
    r.quobinVersion = text("quobinVersion");
    r.logPath = text("logPath");
    r.series = text("series");
    r.serial = serialFrom(o.value(QLatin1String("serial")));
    if (const QJsonValue sent = o.value(QLatin1String("serialSent")); sent.isBool())
        r.serialSent = sent.toBool();
    r.jobName = text("job");
    if (const QJsonValue version = o.value(QLatin1String("jobVersion")); version.isDouble())
        r.jobVersion = version.toInt();
    r.boardId = text("boardId");
    r.reflash = o.value(QLatin1String("reflash")).toBool();
    return r;
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
