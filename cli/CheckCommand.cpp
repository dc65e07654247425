#include "CheckCommand.h"

#include "FirmwareCheck.h"
#include "FirmwareImage.h"

#include <QLocale>

#include <cstdio>

namespace quobin::cli {

namespace {

// At most this many problems are listed; the rest are counted.
constexpr int kProblemsShown = 20;

// 32,767 as people write it, whatever the desktop's language.
QString number(int value)
{
    QLocale locale = QLocale::c();
    locale.setNumberOptions({});
    return locale.toString(value);
}

QString counted(int count, const QString &one, const QString &many)
{
    return number(count) + QLatin1Char(' ') + (count == 1 ? one : many);
}

QString reportText(const QString &path, const FirmwareCheckReport &report)
{
    QString text = path + QLatin1Char('\n');
    text += QStringLiteral("  lines:       %1").arg(number(report.lines));
    text += report.blankLines == 0 ? QStringLiteral(" (no blank lines)\n")
                                   : QStringLiteral(" (%1 blank, not sent)\n").arg(number(report.blankLines));
    text += QStringLiteral("  line limit:  %1 of %2 (%3)\n")
                .arg(number(report.lines), number(FirmwareCheckReport::kLineLimit),
                     report.overLimit ? QStringLiteral("over the limit") : QStringLiteral("within"));
    if (!report.hex) {
        text += QStringLiteral("  Intel HEX:   no, the first line that is not blank does not start with \":\";"
                               " sent line by line as it stands\n");
    } else {
        text += QStringLiteral("  Intel HEX:   %1, %2\n")
                    .arg(counted(report.records, QStringLiteral("record"), QStringLiteral("records")),
                         report.hasEndRecord ? QStringLiteral("end-of-file record at line %1").arg(report.endRecordLine)
                                             : QStringLiteral("no end-of-file record"));
    }
    const QStringList failures = report.failures();
    if (failures.isEmpty())
        return text + QStringLiteral("passed\n");
    text += QStringLiteral("  problems:\n");
    for (int i = 0; i < failures.size() && i < kProblemsShown; ++i)
        text += QStringLiteral("    ") + failures[i] + QLatin1Char('\n');
    if (failures.size() > kProblemsShown)
        text += QStringLiteral("    and %1 more\n").arg(number(int(failures.size()) - kProblemsShown));
    return text + QStringLiteral("failed: an upload refuses this file (--no-check sends it anyway)\n");
}

} // namespace

int CheckCommand::run(const QStringList &arguments)
{
    if (arguments.size() != 1 || (arguments[0].startsWith(QLatin1Char('-')) && arguments[0] != QLatin1String("-"))) {
        std::fputs("Usage: quobin-cli check FILE\n", stderr);
        return ExitUsage;
    }
    const QString path = arguments[0];
    FirmwareCheckReport report;
    try {
        report = checkFirmwareFile(path);
    } catch (const FirmwareFileError &error) {
        std::fprintf(stderr, "quobin-cli: %s\n", error.what());
        return ExitUsage;
    }
    std::fputs(reportText(path, report).toLocal8Bit().constData(), stdout);
    return report.passed() ? ExitSuccess : ExitUsage;
}

} // namespace quobin::cli
