#include "RecordsFormat.h"

#include "LogText.h"
#include "RecordJson.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace quobin::cli {

using records::BoardRecord;
using records::RecordSummary;

namespace {

QString utc(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("-");
}

QString shortSha(const QString &sha)
{
    return sha.left(12);
}

QString percent(double share)
{
    return QString::number(share * 100, 'f', 1) + QStringLiteral(" %");
}

} // namespace

QString recordsText(const QList<BoardRecord> &records, const QList<RecordSummary> &summaries)
{
    if (records.isEmpty())
        return QStringLiteral("No records.\n");
    QString text = QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8\n")
                       .arg(QStringLiteral("Started (UTC)"), -19)
                       .arg(QStringLiteral("Station"), -12)
                       .arg(QStringLiteral("Slot"), -10)
                       .arg(QStringLiteral("Result"), -19)
                       .arg(QStringLiteral("Seconds"), 7)
                       .arg(QStringLiteral("Lines"), 6)
                       .arg(QStringLiteral("Resends"), 7)
                       .arg(QStringLiteral("Job"));
    for (const BoardRecord &r : records) {
        QString line = QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8 (%9)")
                           .arg(utc(r.started), -19)
                           .arg(terminalText(r.station), -12)
                           .arg(terminalText(r.slot), -10)
                           .arg(terminalText(r.result), -19)
                           .arg(QString::number(r.seconds, 'f', 1), 7)
                           .arg(r.linesSent, 6)
                           .arg(r.resends, 7)
                           .arg(terminalText(r.jobFile), terminalText(shortSha(r.jobSha256)));
        if (!r.passed() && !r.message.isEmpty())
            line += QStringLiteral("  ") + terminalText(r.message.simplified());
        text += line + QLatin1Char('\n');
    }
    text += QLatin1Char('\n');
    for (const RecordSummary &s : summaries) {
        QStringList failures;
        for (auto it = s.failedByResult.cbegin(); it != s.failedByResult.cend(); ++it)
            failures << QStringLiteral("%1 %2").arg(terminalText(it.key())).arg(it.value());
        QString failed = QString::number(s.failed()) + QStringLiteral(" failed");
        if (!failures.isEmpty())
            failed += QStringLiteral(" (") + failures.join(QStringLiteral(", ")) + QLatin1Char(')');
        if (s.cancelled > 0)
            failed += QStringLiteral(", %1 cancelled").arg(s.cancelled);
        text += QStringLiteral("%1 (%2) on %3 %4: %5 boards, %6 passed, %7, first-pass yield %8\n")
                    .arg(terminalText(s.jobFile), terminalText(shortSha(s.jobSha256)), terminalText(s.station),
                         terminalText(s.slot))
                    .arg(s.boards)
                    .arg(s.passed)
                    .arg(failed, percent(s.firstPassYield()));
    }
    return text;
}

QByteArray recordsJsonLines(const QList<BoardRecord> &records, const QList<RecordSummary> &summaries,
                            int waitingForServer)
{
    QByteArray lines;
    for (const BoardRecord &r : records)
        lines += QJsonDocument(records::recordJson(r)).toJson(QJsonDocument::Compact) + '\n';
    QJsonArray summaryArray;
    for (const RecordSummary &s : summaries)
        summaryArray.append(records::summaryJson(s));
    const QJsonObject last{{QStringLiteral("summary"), summaryArray},
                           {QStringLiteral("waitingForServer"), waitingForServer}};
    lines += QJsonDocument(last).toJson(QJsonDocument::Compact) + '\n';
    return lines;
}

} // namespace quobin::cli
