#include "CheckCommand.h"

#include "ArgumentText.h"
#include "FileArgument.h"
#include "FirmwareCheck.h"
#include "Command.h"
#include "FirmwareImage.h"
#include "LogText.h"

#include <QCommandLineParser>
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
    QString text = terminalText(path) + QLatin1Char('\n');
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
        text += QStringLiteral("    ") + terminalText(failures[i]) + QLatin1Char('\n');
    if (failures.size() > kProblemsShown)
        text += QStringLiteral("    and %1 more\n").arg(number(int(failures.size()) - kProblemsShown));
    return text + QStringLiteral("failed: an upload refuses this file (--no-check sends it anyway)\n");
}

const char kUsage[] = "Usage: quobin-cli check FILE\n"
                      "Reads FILE as an upload reads it and reports what an upload would refuse.\n";

void complain(const QString &text)
{
    std::fprintf(stderr, "quobin-cli check: %s\n", terminalText(text).toUtf8().constData());
}

int usageError(const QString &text)
{
    complain(text);
    std::fputs(kUsage, stderr);
    return ExitUsage;
}

} // namespace

int CheckCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(help);
    // QCommandLineParser expects the program name first.
    if (!parser.parse(QStringList{QStringLiteral("check")} + arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(kUsage, stdout);
        return ExitSuccess;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return usageError(files.isEmpty() ? QStringLiteral("no FILE given")
                                          : QStringLiteral("one FILE only, not %1").arg(files.size()));
    FirmwareCheckReport report;
    QString path;
    try {
        const FileArgument file(files.first());
        path = file.shown();
        report = checkFirmwareFile(file.openablePath());
    } catch (const UsageError &error) {
        complain(QString::fromStdString(error.what()));
        return ExitUsage;
    } catch (const FirmwareFileError &error) {
        complain(readable(files.first()) + QStringLiteral(": ") + QString::fromStdString(error.what()));
        return ExitUsage;
    }
    std::fputs(reportText(path, report).toUtf8().constData(), stdout);
    return report.passed() ? ExitSuccess : ExitUsage;
}

} // namespace quobin::cli
