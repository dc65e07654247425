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
        if (r.serial) {
            line += QStringLiteral("  serial %1 %2").arg(terminalText(r.series)).arg(*r.serial);
            if (r.serialSent == false)
                line += QStringLiteral(" (not sent)");
        }
        if (r.fromJob())
            line += QStringLiteral("  job %1 version %2").arg(terminalText(r.jobName)).arg(r.jobVersion.value_or(0));
        if (!r.boardId.isEmpty())
            line += QStringLiteral("  board %1%2").arg(terminalText(r.boardId), r.reflash ? QStringLiteral(" (re-flash)") : QString());
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
        // Only cancelled boards: nothing has passed or failed to count a
        // yield from, which is not a yield of nought.
        const QString yield = s.boards > 0 ? QStringLiteral("first-pass yield ") + percent(s.firstPassYield())
                                           : QStringLiteral("no first-pass yield yet");
        text += QStringLiteral("%1 (%2) on %3 %4: %5 boards, %6 passed, %7, %8\n")
                    .arg(terminalText(s.jobFile), terminalText(shortSha(s.jobSha256)), terminalText(s.station),
                         terminalText(s.slot))
                    .arg(s.boards)
                    .arg(s.passed)
                    .arg(failed, yield);
    }
    return text;
}

QString seriesText(const QList<records::SeriesUse> &uses)
{
    // The first gaps by name; a long list would drown the terminal.
    constexpr int kGapsShown = 10;
    QString text;
    for (const records::SeriesUse &use : uses) {
        QString line = QStringLiteral("series %1: %2 passed, serials %3 to %4")
                           .arg(terminalText(use.series))
                           .arg(use.passed)
                           .arg(use.lowest)
                           .arg(use.highest);
        if (use.step != 1)
            line += QStringLiteral(" by %1").arg(use.step);
        if (use.waiting > 0)
            line += QStringLiteral(", %1 given back waiting to be used").arg(use.waiting);
        if (use.gaps.isEmpty()) {
            line += QStringLiteral(", no gaps");
        } else {
            QStringList gaps;
            for (int i = 0; i < use.gaps.size() && i < kGapsShown; ++i) {
                const records::SerialGap &gap = use.gaps[i];
                gaps << (gap.count == 1 ? QString::number(gap.first)
                                        : QStringLiteral("%1-%2").arg(gap.first).arg(gap.last));
            }
            if (use.gaps.size() > kGapsShown)
                gaps << QStringLiteral("...");
            line += QStringLiteral(", %1 not used (gaps: %2)").arg(use.unused).arg(gaps.join(QStringLiteral(", ")));
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}

QByteArray recordsJsonLines(const QList<BoardRecord> &records, const QList<RecordSummary> &summaries,
                            int waitingForServer, const QList<records::SeriesUse> &uses)
{
    using records::serialJson;
    const auto line = [](QJsonObject object) {
        object.insert(QStringLiteral("schema"), records::kJsonSchema);
        return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    };
    QByteArray lines;
    for (const BoardRecord &r : records)
        lines += line(records::recordJson(r));
    QJsonArray summaryArray;
    for (const RecordSummary &s : summaries)
        summaryArray.append(records::summaryJson(s));
    QJsonObject last{{QStringLiteral("summary"), summaryArray},
                     {QStringLiteral("waitingForServer"), waitingForServer}};
    if (!uses.isEmpty()) {
        // Serial numbers as the records write them (a number, text past
        // 2^53); counts as numbers.
        QJsonArray seriesArray;
        for (const records::SeriesUse &use : uses) {
            QJsonArray gaps;
            for (const records::SerialGap &gap : use.gaps)
                gaps.append(QJsonObject{{QStringLiteral("first"), serialJson(gap.first)},
                                        {QStringLiteral("last"), serialJson(gap.last)},
                                        {QStringLiteral("count"), double(gap.count)}});
            seriesArray.append(QJsonObject{{QStringLiteral("series"), use.series},
                                           {QStringLiteral("passed"), use.passed},
                                           {QStringLiteral("lowest"), serialJson(use.lowest)},
                                           {QStringLiteral("highest"), serialJson(use.highest)},
                                           {QStringLiteral("step"), serialJson(use.step)},
                                           {QStringLiteral("stepKnown"), use.stepKnown},
                                           {QStringLiteral("unused"), double(use.unused)},
                                           {QStringLiteral("waiting"), double(use.waiting)},
                                           {QStringLiteral("gaps"), gaps}});
        }
        last.insert(QStringLiteral("series"), seriesArray);
    }
    lines += line(last);
    return lines;
}

} // namespace quobin::cli
