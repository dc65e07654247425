#include "JobCommand.h"

#include "ArgumentSecrets.h"
#include "CheckedImage.h"
#include "HelpText.h"
#include "LogText.h"

#include "ApprovedJobSupply.h"
#include "FirmwareImage.h"
#include "JobStore.h"
#include "RecordSchema.h"
#include "RecordStores.h"
#include "SerialPlace.h"
#include "SerialSpec.h"
#include "ServerTarget.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdio>

namespace quobin::cli {

namespace {

const char kUsage[] =
    "Usage: quobin-cli job approve NAME IMAGE [--serial FORMAT] [--on-error stop|continue]\n"
    "                                          [--board-id RULE [--reflash allow]]\n"
    "                                          [--records TARGET]\n"
    "       quobin-cli job list [--records TARGET] [--json]\n"
    "       quobin-cli job show NAME [--records TARGET] [--json]\n"
    "       quobin-cli job withdraw NAME [--records TARGET]\n"
    "A job is what a supervisor approves once: the image itself (its bytes, kept in the\n"
    "records database), its SHA-256, lines and size, and its settings. A station given\n"
    "--job NAME flashes exactly that image, read from the database for every board.\n"
    "  approve            checks IMAGE (and FORMAT in it) as a station does and keeps it as\n"
    "                     the next version of NAME (1, 2, 3, ...); older versions stay as\n"
    "                     they were approved. Running stations take the new version from\n"
    "                     their next board on\n"
    "  list               the current version of every job\n"
    "  show               the current version of NAME, and every version's approval\n"
    "  withdraw           NAME takes no new board: running stations finish the boards in\n"
    "                     progress and stop; approving NAME again makes it current again\n"
    "  --serial FORMAT    the job's serial number, as quobin-cli station --serial takes it\n"
    "  --on-error POLICY  a failing line's question: stop (No, the default) or continue (Yes)\n"
    "  --board-id RULE    the station asks for each board's ID (its label) before flashing\n"
    "                     it, and takes only an ID that the regular expression RULE\n"
    "                     matches, e.g. '^QB[0-9]{8}$'; an ID whose board passed before\n"
    "                     is refused\n"
    "  --reflash allow    with --board-id: a board that passed before may be flashed again;\n"
    "                     its record says it was a re-flash (refused by default)\n"
    "  --records TARGET   a SQLite file, or postgresql://user@host[:port]/db (default\n"
    "                     {records-file})\n"
    "  --json             list: one JSON object per job and line; show: one object\n"
    "Who approves or withdraws is the database's user on PostgreSQL, whose rights decide;\n"
    "on SQLite the system's user, and the file's permissions decide.\n"
    "NAME: letters, digits, '.', '_' and '-', up to 64.\n"
    "Exit status: 0 done, 1 the database refused (a right, no such job) or cannot be\n"
    "reached, 2 bad usage or an IMAGE or FORMAT a station would refuse.\n";

void complain(const QString &text)
{
    std::fprintf(stderr, "quobin-cli job: %s\n", qPrintable(text));
}

void write(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

QString checkedName(const QString &name)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    if (!form.match(name).hasMatch())
        throw UsageError(QStringLiteral("a job's NAME is letters, digits, '.', '_' and '-', up to 64, not '%1'")
                             .arg(terminalText(name)));
    return name;
}

QJsonValue timeJson(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(records::schema::timeText(time)) : QJsonValue(QJsonValue::Null);
}

QJsonObject jobJson(const records::ApprovedJob &job)
{
    return QJsonObject{
        {QStringLiteral("name"), job.name},
        {QStringLiteral("version"), job.version},
        {QStringLiteral("file"), job.fileName},
        {QStringLiteral("sha256"), job.sha256},
        {QStringLiteral("lines"), job.lines},
        {QStringLiteral("size"), double(job.size)},
        {QStringLiteral("serial"), job.serialFormat.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(job.serialFormat)},
        {QStringLiteral("onError"), job.onError},
        {QStringLiteral("boardIdRule"), job.boardIdRule.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(job.boardIdRule)},
        {QStringLiteral("reflash"), job.reflashAllowed ? QStringLiteral("allow") : QStringLiteral("refuse")},
        {QStringLiteral("approvedBy"), job.approvedBy},
        {QStringLiteral("approved"), timeJson(job.approved)},
        {QStringLiteral("withdrawnBy"), job.isWithdrawn() ? QJsonValue(job.withdrawnBy) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("withdrawn"), timeJson(job.withdrawn)},
    };
}

QString approvalText(const records::ApprovedJob &job)
{
    QString text = QStringLiteral("version %1 approved by %2 at %3")
                       .arg(job.version)
                       .arg(terminalText(job.approvedBy), records::schema::timeText(job.approved));
    if (job.isWithdrawn())
        text += QStringLiteral(", withdrawn by %1 at %2")
                    .arg(terminalText(job.withdrawnBy), records::schema::timeText(job.withdrawn));
    return text;
}

QString settingsText(const records::ApprovedJob &job)
{
    QString text = QStringLiteral("%1, SHA-256 %2, %3 lines, %4 bytes, serial %5, on error %6")
                       .arg(terminalText(job.fileName), job.sha256)
                       .arg(job.lines)
                       .arg(job.size)
                       .arg(job.serialFormat.isEmpty() ? QStringLiteral("none") : terminalText(job.serialFormat),
                            job.onError);
    if (!job.boardIdRule.isEmpty())
        text += QStringLiteral(", board ID %1, re-flash %2")
                    .arg(terminalText(job.boardIdRule), job.reflashAllowed ? QStringLiteral("allowed") : QStringLiteral("refused"));
    return text;
}

struct JobArguments {
    QString action;
    QStringList positional;
    QString target;
    QString serial;
    QString onError = QStringLiteral("stop");
    QString boardIdRule;
    bool reflashAllowed = false;
    bool json = false;
};

JobArguments parseArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption records(QStringLiteral("records"), {}, QStringLiteral("TARGET"));
    const QCommandLineOption serial(QStringLiteral("serial"), {}, QStringLiteral("FORMAT"));
    const QCommandLineOption onError(QStringLiteral("on-error"), {}, QStringLiteral("POLICY"));
    const QCommandLineOption boardId(QStringLiteral("board-id"), {}, QStringLiteral("RULE"));
    const QCommandLineOption reflash(QStringLiteral("reflash"), {}, QStringLiteral("allow"));
    const QCommandLineOption json(QStringLiteral("json"));
    parser.addOptions({records, serial, onError, boardId, reflash, json});
    if (!parser.parse(QStringList{QStringLiteral("job")} + arguments))
        throw UsageError(parser.errorText());
    for (const QCommandLineOption &single : {records, serial, onError, boardId, reflash}) {
        if (parser.values(single).size() > 1)
            throw UsageError(QStringLiteral("--%1 is given more than once").arg(single.names().first()));
        if (parser.isSet(single) && parser.value(single).isEmpty())
            throw UsageError(QStringLiteral("--%1 needs a value").arg(single.names().first()));
    }
    JobArguments result;
    result.positional = parser.positionalArguments();
    if (result.positional.isEmpty())
        throw UsageError(QStringLiteral("no action given: approve, list, show or withdraw"));
    result.action = result.positional.takeFirst();
    result.target = parser.value(records);
    result.json = parser.isSet(json);
    const bool approving = result.action == QLatin1String("approve");
    struct Shape {
        const char *action;
        int positional;
        const char *what;
        bool json;
    };
    static const Shape shapes[] = {{"approve", 2, "NAME and IMAGE", false},
                                   {"list", 0, "nothing more", true},
                                   {"show", 1, "NAME", true},
                                   {"withdraw", 1, "NAME", false}};
    const Shape *shape = nullptr;
    for (const Shape &candidate : shapes)
        if (result.action == QLatin1String(candidate.action))
            shape = &candidate;
    if (!shape)
        throw UsageError(QStringLiteral("unknown action '%1': approve, list, show or withdraw")
                             .arg(terminalText(result.action)));
    if (result.positional.size() != shape->positional)
        throw UsageError(QStringLiteral("job %1 takes %2").arg(result.action, QLatin1String(shape->what)));
    if (result.json && !shape->json)
        throw UsageError(QStringLiteral("--json is for job list and job show"));
    if (!approving && (parser.isSet(serial) || parser.isSet(onError) || parser.isSet(boardId) || parser.isSet(reflash)))
        throw UsageError(QStringLiteral("--serial, --on-error, --board-id and --reflash belong to job approve"));
    if (parser.isSet(boardId)) {
        result.boardIdRule = parser.value(boardId);
        const QRegularExpression rule(result.boardIdRule);
        if (!rule.isValid())
            throw UsageError(QStringLiteral("--board-id '%1' is no regular expression: %2 at character %3")
                                 .arg(terminalText(result.boardIdRule), rule.errorString())
                                 .arg(rule.patternErrorOffset() + 1));
        if (rule.match(QString()).hasMatch())
            throw UsageError(QStringLiteral("--board-id '%1' matches an empty ID: give a rule that every label"
                                            " matches and nothing else, e.g. '^QB[0-9]{8}$'")
                                 .arg(terminalText(result.boardIdRule)));
    }
    if (parser.isSet(reflash)) {
        if (parser.value(reflash) != QLatin1String("allow"))
            throw UsageError(QStringLiteral("--reflash takes allow, not '%1'").arg(terminalText(parser.value(reflash))));
        if (!parser.isSet(boardId))
            throw UsageError(QStringLiteral("--reflash allow needs --board-id: without board IDs no board is known"
                                            " to have passed before"));
        result.reflashAllowed = true;
    }
    if (!result.positional.isEmpty())
        checkedName(result.positional.first());
    result.serial = parser.value(serial).trimmed();
    if (parser.isSet(onError)) {
        result.onError = parser.value(onError);
        if (result.onError == QLatin1String("ask"))
            throw UsageError(QStringLiteral("--on-error ask is not for a station: nobody is asked there; "
                                            "give stop (No, the default) or continue (Yes)"));
        if (!station::errorPolicyNamed(result.onError))
            throw UsageError(QStringLiteral("--on-error takes stop or continue, not '%1'")
                                 .arg(terminalText(result.onError)));
    }
    return result;
}

// The job to approve: the image read and checked as a station reads it, its
// serial format found in it.
records::ApprovedJob jobToApprove(const JobArguments &parsed)
{
    const QString path = QFileInfo(parsed.positional[1]).absoluteFilePath();
    const station::StationJob image = readCheckedImage(path);
    if (!parsed.serial.isEmpty()) {
        try {
            const SerialSpec serialFormat = SerialSpec::parse(parsed.serial);
            SerialPlace::find(*image.image(), serialFormat.address, serialFormat.width);
        } catch (const SerialSpecError &error) {
            throw UsageError(QStringLiteral("--serial %1: %2").arg(parsed.serial, QString::fromStdString(error.what())));
        } catch (const SerialPlaceError &error) {
            throw UsageError(QStringLiteral("--serial %1: %2: %3")
                                 .arg(parsed.serial, image.fileName(), QString::fromStdString(error.what())));
        }
    }
    records::ApprovedJob job;
    job.name = parsed.positional[0];
    job.fileName = image.fileName();
    job.image = image.image()->bytes();
    job.sha256 = image.sha256();
    job.lines = image.linesToSend();
    job.size = job.image.size();
    job.serialFormat = parsed.serial;
    job.onError = parsed.onError;
    job.boardIdRule = parsed.boardIdRule;
    job.reflashAllowed = parsed.reflashAllowed;
    return job;
}

} // namespace

int JobCommand::run(const QStringList &arguments)
{
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        std::fputs(helpText(kUsage).constData(), stdout);
        return ExitSuccess;
    }
    JobArguments parsed;
    std::unique_ptr<records::JobStore> store;
    records::ApprovedJob toApprove;
    try {
        parsed = parseArguments(arguments);
        warnOfPasswordArgument(QStringLiteral("job"), parsed.target);
        if (parsed.action == QLatin1String("approve"))
            toApprove = jobToApprove(parsed);
    } catch (const UsageError &error) {
        std::fprintf(stderr, "quobin-cli job: %s\n%s", error.what(), helpText(kUsage).constData());
        return ExitUsage;
    }
    try {
        store = records::openJobStore(parsed.target);
    } catch (const records::RecordStoreError &error) {
        complain(QStringLiteral("the jobs cannot be read in %1: %2")
                     .arg(parsed.target.isEmpty() ? records::defaultRecordsFile()
                                                  : records::ServerTarget::withoutPassword(parsed.target),
                          error.reason()));
        return ExitUsage;
    }
    try {
        if (parsed.action == QLatin1String("approve")) {
            const records::ApprovedJob job = store->approve(toApprove);
            write(QStringLiteral("Approved job %1 %2: %3\n")
                      .arg(job.name, approvalText(job), settingsText(job)).toLocal8Bit());
        } else if (parsed.action == QLatin1String("list")) {
            const QList<records::ApprovedJob> jobs = store->current();
            QByteArray out;
            for (const records::ApprovedJob &job : jobs) {
                if (parsed.json)
                    out += QJsonDocument(jobJson(job)).toJson(QJsonDocument::Compact) + '\n';
                else
                    out += QStringLiteral("%1: %2; %3\n").arg(job.name, approvalText(job), settingsText(job)).toLocal8Bit();
            }
            if (jobs.isEmpty() && !parsed.json)
                out = QStringLiteral("No job is approved in %1.\n").arg(store->describe()).toLocal8Bit();
            write(out);
        } else if (parsed.action == QLatin1String("show")) {
            const QList<records::ApprovedJob> versions = store->versions(parsed.positional[0]);
            if (versions.isEmpty()) {
                complain(QStringLiteral("there is no job %1 in %2").arg(parsed.positional[0], store->describe()));
                return ExitFailed;
            }
            if (parsed.json) {
                QJsonObject object = jobJson(versions.first());
                QJsonArray all;
                for (const records::ApprovedJob &version : versions)
                    all.append(jobJson(version));
                object.insert(QStringLiteral("versions"), all);
                write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
            } else {
                const records::ApprovedJob &current = versions.first();
                QString text = QStringLiteral("Job %1, current version %2%3: %4\n")
                                   .arg(current.name)
                                   .arg(current.version)
                                   .arg(current.isWithdrawn() ? QStringLiteral(" (withdrawn)") : QString(),
                                        settingsText(current));
                for (const records::ApprovedJob &version : versions)
                    text += QStringLiteral("  %1; %2\n").arg(approvalText(version), settingsText(version));
                write(text.toLocal8Bit());
            }
        } else {
            const records::ApprovedJob job = store->withdraw(parsed.positional[0]);
            write(QStringLiteral("Withdrew job %1 %2\n").arg(job.name, approvalText(job)).toLocal8Bit());
        }
        std::fflush(stdout);
        return ExitSuccess;
    } catch (const records::RecordStoreError &error) {
        complain(error.reason());
        return ExitFailed;
    }
}

} // namespace quobin::cli
