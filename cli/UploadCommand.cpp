#include "UploadCommand.h"

#include "ArgumentText.h"
#include "CancelSignal.h"
#include "FirmwareCheck.h"
#include "FileArgument.h"
#include "FirmwareImage.h"
#include "GangUpload.h"
#include "Printer.h"
#include "QuestionDesk.h"
#include "UploadArguments.h"
#include "UploadLog.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace quobin::cli {

namespace {

// Problems listed when a check refuses a file.
constexpr int kProblemsShown = 10;

const char kUsage[] =
    "Usage: quobin-cli upload [--port PORT]... [--on-error ask|stop|continue]\n"
    "                         [--wait-for-controller SECONDS] [--json] [--log FILE] [--no-check] FILE\n"
    "Sends FILE to the controller on every PORT at once, as the window's upload does.\n"
    "  --port PORT        \"Com 3\", \"com3\", \"3\" or a device path; repeat it for a gang upload.\n"
    "                     A serial server on the network: rfc2217://HOST:PORT (an IPv6\n"
    "                     address in brackets: rfc2217://[fd00::17]:2217).\n"
    "                     Without it, the port chosen last in the window.\n"
    "  --on-error POLICY  what a failing line's question gets: ask (the default on a\n"
    "                     terminal), stop (No; the default otherwise) or continue (Yes)\n"
    "  --wait-for-controller SECONDS\n"
    "                     give up when no controller announces itself in time\n"
    "                     (no-controller); without it, wait until it does\n"
    "  --json             one JSON object per line on stdout, each with \"port\"\n"
    "  --log FILE         append every byte sent and received, per port, to FILE\n"
    "  --no-check         send FILE even when it fails quobin-cli check\n"
    "Exit status: 0 all succeeded, 1 an upload failed or the log could not be written,\n"
    "2 bad usage or file (nothing sent), 130 cancelled (Ctrl-C or SIGTERM), 129 hung up (SIGHUP).\n";

void complain(const QString &text)
{
    std::fprintf(stderr, "quobin-cli upload: %s\n", qPrintable(text));
}

// Reads the file once, for the check and for every port's upload, and
// refuses what cannot or should not be sent.
struct CheckedFile {
    std::shared_ptr<const FirmwareImage> image;
    FirmwareCheckReport report;
};

CheckedFile readAndCheck(const FileArgument &file, bool noCheck)
{
    const QString path = file.shown();
    std::shared_ptr<const FirmwareImage> image;
    try {
        image = FirmwareImage::read(file.openablePath());
    } catch (const FirmwareFileError &error) {
        throw UsageError(QStringLiteral("%1: %2").arg(path, QString::fromStdString(error.what())));
    }
    const FirmwareCheckReport report = checkFirmwareImage(*image);
    // Such a file cannot be counted by the upload at all, checked or not.
    if (report.overLimit)
        throw UsageError(QStringLiteral("%1: %2 lines, more than the %3 an upload can send")
                             .arg(path).arg(report.lines).arg(FirmwareCheckReport::kLineLimit));
    if (!noCheck && !report.passed()) {
        const QStringList failures = report.failures();
        QString text = QStringLiteral("%1 fails the check; nothing was sent (--no-check sends it anyway):").arg(path);
        for (qsizetype i = 0; i < failures.size() && i < kProblemsShown; ++i)
            text += QStringLiteral("\n  ") + failures[i];
        if (failures.size() > kProblemsShown)
            text += QStringLiteral("\n  ... and %1 more").arg(failures.size() - kProblemsShown);
        throw UsageError(text);
    }
    return {image, report};
}

} // namespace

int UploadCommand::run(const QStringList &arguments)
{
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        std::fputs(kUsage, stdout);
        return ExitSuccess;
    }
    UploadArguments parsed;
    std::unique_ptr<FileArgument> firmware;
    CheckedFile file;
    std::unique_ptr<UploadLog> log;
    try {
        parsed = UploadArguments::parse(arguments, m_context, ::isatty(STDIN_FILENO));
        firmware = std::make_unique<FileArgument>(parsed.firmwarePath);
        file = readAndCheck(*firmware, parsed.noCheck);
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
    // A reader that goes away (`| head`) must not kill the program halfway
    // through a controller's flash: output to it is dropped, the uploads go on.
#ifdef SIGPIPE // a reader of the output that has gone is an error on write, not the end
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const QList<PortResult> results
        = GangUpload(parsed, *firmware, file.image, file.report.lines - file.report.blankLines, printer,
                     desk, log.get())
              .run();
    printer.summary();
    for (qsizetype i = 0; i < results.size(); ++i) {
        if (!results[i].detail.isEmpty())
            complain(labels[i] + QStringLiteral(": ") + results[i].detail);
    }

    // The record is part of the job: a log that lost lines is a failure too.
    const QString logFailure = log ? log->failure() : QString();
    if (!logFailure.isEmpty())
        complain(QStringLiteral("cannot write the log %1: %2; it is incomplete")
                     .arg(readable(parsed.logPath), logFailure));

    if (CancelSignal::requested())
        return CancelSignal::hungUp() ? ExitHungUp : ExitCancelled;
    for (const PortResult &result : results) {
        if (result.result != QLatin1String("success"))
            return ExitFailed;
    }
    return logFailure.isEmpty() ? ExitSuccess : ExitFailed;
}

} // namespace quobin::cli
