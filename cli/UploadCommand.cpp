#include "UploadCommand.h"

#include "CancelSignal.h"
#include "FirmwareCheck.h"
#include "FirmwareFile.h"
#include "GangUpload.h"
#include "Printer.h"
#include "QuestionDesk.h"
#include "UploadArguments.h"
#include "UploadLog.h"

#include <QFileInfo>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace quobin::cli {

namespace {

// The most lines an upload can count.
constexpr int kLineLimit = 32767;
// Problems listed when a check refuses a file.
constexpr int kProblemsShown = 10;

void complain(const QString &text)
{
    std::fprintf(stderr, "quobin-cli upload: %s\n", qPrintable(text));
}

// Reads the file as the upload will, and refuses what cannot or should not
// be sent. Returns the report.
FirmwareCheckReport checkBeforeSending(const UploadArguments &arguments)
{
    const QString &path = arguments.firmwarePath;
    const QFileInfo info(path);
    if (!info.exists())
        throw UsageError(QStringLiteral("%1: no such file").arg(path));
    if (info.isDir())
        throw UsageError(QStringLiteral("%1: is a folder, not a firmware file").arg(path));
    FirmwareCheckReport report;
    try {
        report = checkFirmwareFile(path);
    } catch (const FirmwareFileError &error) {
        throw UsageError(QStringLiteral("%1: %2").arg(path, QString::fromStdString(error.what())));
    }
    // Such a file cannot be counted by the upload at all, checked or not.
    if (report.overLimit || report.lines > kLineLimit)
        throw UsageError(QStringLiteral("%1: %2 lines, more than the %3 an upload can send")
                             .arg(path).arg(report.lines).arg(kLineLimit));
    if (!arguments.noCheck && !report.passed()) {
        QString text = QStringLiteral("%1 fails the check; nothing was sent (--no-check sends it anyway):").arg(path);
        for (qsizetype i = 0; i < report.problems.size() && i < kProblemsShown; ++i)
            text += QStringLiteral("\n  line %1: %2").arg(report.problems[i].line).arg(report.problems[i].text);
        if (report.problems.size() > kProblemsShown)
            text += QStringLiteral("\n  ... and %1 more").arg(report.problems.size() - kProblemsShown);
        if (report.hex && !report.hasEndRecord)
            text += QStringLiteral("\n  no end-of-file record");
        throw UsageError(text);
    }
    return report;
}

} // namespace

int UploadCommand::run(const QStringList &arguments)
{
    UploadArguments parsed;
    FirmwareCheckReport report;
    std::unique_ptr<UploadLog> log;
    try {
        parsed = UploadArguments::parse(arguments, m_context, ::isatty(STDIN_FILENO));
        report = checkBeforeSending(parsed);
        if (!parsed.logPath.isEmpty())
            log = std::make_unique<UploadLog>(parsed.logPath);
    } catch (const std::exception &error) {
        complain(QString::fromStdString(error.what()));
        return ExitUsage;
    }

    QStringList labels;
    for (const PortChoice &choice : std::as_const(parsed.ports))
        labels << choice.label;
    const Printer::Mode mode = parsed.json ? Printer::Mode::Json
                               : ::isatty(STDOUT_FILENO) ? Printer::Mode::Live
                                                         : Printer::Mode::Plain;
    Printer printer(mode, labels);
    QuestionDesk desk(printer);

    const CancelSignal cancel;
    const QList<PortResult> results
        = GangUpload(parsed, report.lines - report.blankLines, printer, desk, log.get()).run();
    printer.summary();

    if (CancelSignal::requested())
        return ExitCancelled;
    for (const PortResult &result : results) {
        if (result.result != QLatin1String("success"))
            return ExitFailed;
    }
    return ExitSuccess;
}

} // namespace quobin::cli
