#include "RecordCsv.h"

#include "RecordJson.h"

#include <QJsonObject>
#include <QStringList>

namespace quobin::records {

namespace {

QString questionsField(const QList<records::RecordedQuestion> &questions)
{
    QStringList parts;
    for (const records::RecordedQuestion &question : questions)
        parts << QStringLiteral("line %1: %2 -> %3")
                     .arg(question.lineNumber)
                     .arg(question.reason, question.answeredYes ? QStringLiteral("yes") : QStringLiteral("no"));
    return parts.join(QStringLiteral("; "));
}

// A cell that a spreadsheet would read as a formula (=, +, -, @, or a tab
// or carriage return before one) gets a leading single quote, so that a
// station name or a job file named "=HYPERLINK(...)" is shown as text and
// never run.
QString neutralized(const QString &value)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!value.isEmpty() && formulaStarts.contains(value.front()))
        return QLatin1Char('\'') + value;
    return value;
}

QString csvField(const QString &raw)
{
    const QString value = neutralized(raw);
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"'))
        && !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QByteArray recordsCsv(const QList<BoardRecord> &records)
{
    QString csv = QStringLiteral("id,station,slot,device,usb_serial,by_id_name,socket,job_sha256,job_file,started,ended,"
                                 "seconds,bootloader_version,result,message,detail,lines_sent,resends,questions,"
                                 "quobin_version,log_path,series,serial,serial_sent,job,job_version,board_id,reflash\r\n");
    for (const BoardRecord &r : records) {
        const QJsonObject json = records::recordJson(r);
        const QStringList fields{
            json.value(QStringLiteral("id")).toString(), r.station, r.slot, r.device, r.usbSerial, r.byIdName, r.socket,
            r.jobSha256, r.jobFile, json.value(QStringLiteral("started")).toString(),
            json.value(QStringLiteral("ended")).toString(), QString::number(r.seconds, 'f', 3),
            QString::number(json.value(QStringLiteral("bootloaderVersion")).toDouble()), r.result, r.message,
            r.detail, QString::number(r.linesSent), QString::number(r.resends), questionsField(r.questions),
            r.quobinVersion, r.logPath, r.series, r.serial ? QString::number(*r.serial) : QString(),
            r.serialSent ? (*r.serialSent ? QStringLiteral("yes") : QStringLiteral("no")) : QString(), r.jobName,
            r.jobVersion ? QString::number(*r.jobVersion) : QString(), r.boardId,
            r.reflash ? QStringLiteral("yes") : QString()};
        QStringList quoted;
        for (const QString &field : fields)
            quoted << csvField(field);
        csv += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return csv.toUtf8();
}

} // namespace quobin::records
