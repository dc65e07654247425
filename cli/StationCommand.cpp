#include "StationCommand.h"

#include "ArgumentSecrets.h"
#include "CheckedImage.h"
#include "HelpText.h"

#include "ServerTarget.h"

#include "SlotNames.h"

#include "ApprovedJobSupply.h"
#include "BoardIdLines.h"
#include "InputLines.h"
#include "BoardLogFiles.h"
#include "JobStore.h"
#include "LivePublisher.h"
#include "LiveWriter.h"
#include "StationObservers.h"
#include "CancelSignal.h"
#include "FirmwareCheck.h"
#include "FirmwareImage.h"
#include "PortDescription.h"
#include "PortNames.h"
#include "SerialPorts.h"
#include "RecordJson.h"
#include "RecordStores.h"
#include "SerialError.h"
#include "Station.h"
#include "StationJob.h"
#include "StationPrinter.h"
#include "StationSerials.h"
#include "SerialPlace.h"
#include "SerialPool.h"
#include "SerialSources.h"
#include "SerialSpec.h"
#include "UploadArguments.h"
#include "UsbLocation.h"
#include "UsbSocketTree.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QSysInfo>

#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace quobin::cli {

namespace {

const char kUsage[] =
    "Usage: quobin-cli station [--slot PORT]... [--count N] [--on-error stop|continue]\n"
    "                          [--records TARGET] [--station NAME] [--log-dir DIR]\n"
    "                          [--serial SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]]] [--json] FILE\n"
    "       quobin-cli station [--slot PORT]... [--count N] [--records TARGET] [--station NAME]\n"
    "                          [--log-dir DIR] [--json] --job NAME\n"
    "Flashes FILE into board after board on every slot at once, and records each board.\n"
    "  --job NAME         flash the approved job NAME instead of a file: its image as\n"
    "                     approved, read from the records database (TARGET) and checked\n"
    "                     against its SHA-256 before every board, with its serial format\n"
    "                     and on-error policy (no FILE, --serial or --on-error of the run's\n"
    "                     own). A new version approved meanwhile goes to the next boards; a\n"
    "                     withdrawal lets the boards in progress finish and takes no new one\n"
    "  --slot PORT        \"Com 3\", \"com3\", \"3\", {device-paths}\n"
    "                     or rfc2217://HOST:PORT (a serial server on the network);\n"
    "                     repeat it for more slots. A missing device is waited for.\n"
    "  --count N          end after N good boards in all (no end by default)\n"
    "  --on-error POLICY  a failing line's question: stop (No, the default) or continue (Yes)\n"
    "  --records TARGET   a SQLite file, or postgresql://user@host[:port]/db (default\n"
    "                     {records-file})\n"
    "  --station NAME     the station's name in the records (default: the host name)\n"
    "  --log-dir DIR      one byte log per board in DIR\n"
    "  --serial FORMAT    write a serial number into every board's image: SERIES names the\n"
    "                     counter, ADDRESS (0x hex or decimal) is where the image's records\n"
    "                     put it, WIDTH its bytes (digits for ascii), ENCODING le, be or\n"
    "                     ascii; FIRST (1) and STEP (1) count it, e.g. pump@0x0800F000:4:le.\n"
    "                     Numbers come from the records: a number is spent when its board\n"
    "                     passes, a failed board's number goes to the next board, none is\n"
    "                     given twice, and the series never wraps around at its width\n"
    "  --json             one JSON object per line on stdout, each with \"slot\"\n"
    "A job with a board ID rule asks for each board's ID before its board, as a line on\n"
    "standard input: \"SLOT ID\" (SLOT: the slot's number 1..N in --slot order, or its name\n"
    "such as \"Com 3\") or \"ID\" alone for the lowest-numbered slot that waits. An ID that\n"
    "does not match the rule, or whose board passed already (unless the job allows\n"
    "re-flashing), is refused with the reason and the slot keeps waiting; only that slot\n"
    "waits. At the end of standard input the slots finish the boards that have an ID.\n"
    "Exit status: 0 after --count good boards or the end of the board IDs, 1 the station\n"
    "cannot go on (no slot's device can be opened, the records cannot be written, the\n"
    "series has no number left, the job\n"
    "is withdrawn or its image is not the one approved), 2 bad\n"
    "usage, file, TARGET or serial place,\n"
    "130 cancelled (Ctrl-C or SIGTERM).\n";

void complain(const QString &text)
{
    std::fprintf(stderr, "quobin-cli station: %s\n", qPrintable(text));
}

int wholeNumber(const QString &text, const QString &option)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1)
        throw UsageError(QStringLiteral("%1 takes a whole number, 1 or more, not '%2'").arg(option, text));
    return value;
}

QString endText(station::Station::End end, const QString &failure)
{
    switch (end) {
    case station::Station::End::CountReached: return QStringLiteral("count reached");
    case station::Station::End::Cancelled: return QStringLiteral("cancelled");
    case station::Station::End::Failed: return QStringLiteral("failed: ") + failure;
    case station::Station::End::BoardIdsEnded: return QStringLiteral("board IDs ended");
    }
    return {};
}

} // namespace

StationArguments StationArguments::parse(const QStringList &arguments, const CliContext &context)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption slot(QStringLiteral("slot"), {}, QStringLiteral("PORT"));
    const QCommandLineOption count(QStringLiteral("count"), {}, QStringLiteral("N"));
    const QCommandLineOption onError(QStringLiteral("on-error"), {}, QStringLiteral("POLICY"));
    const QCommandLineOption records(QStringLiteral("records"), {}, QStringLiteral("TARGET"));
    const QCommandLineOption stationName(QStringLiteral("station"), {}, QStringLiteral("NAME"));
    const QCommandLineOption logDir(QStringLiteral("log-dir"), {}, QStringLiteral("DIR"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption serial(QStringLiteral("serial"), {}, QStringLiteral("FORMAT"));
    const QCommandLineOption jobOption(QStringLiteral("job"), {}, QStringLiteral("NAME"));
    parser.addOptions({slot, count, onError, records, stationName, logDir, json, serial, jobOption});
    if (!parser.parse(QStringList{QStringLiteral("station")} + arguments))
        throw UsageError(parser.errorText());

    StationArguments result;
    const QStringList files = parser.positionalArguments();
    if (parser.isSet(jobOption)) {
        // The job brings its image and its settings, as a supervisor
        // approved them: the run has none of its own.
        result.jobName = parser.value(jobOption);
        if (result.jobName.isEmpty())
            throw UsageError(QStringLiteral("--job needs a NAME"));
        if (parser.values(jobOption).size() > 1)
            throw UsageError(QStringLiteral("--job is given more than once"));
        if (!files.isEmpty())
            throw UsageError(QStringLiteral("--job %1 takes no FILE: the station flashes the job's approved image from"
                                            " the records database").arg(result.jobName));
        if (parser.isSet(serial) || parser.isSet(onError))
            throw UsageError(QStringLiteral("--job %1 takes no --serial or --on-error: the job's own, as approved, are"
                                            " used").arg(result.jobName));
    } else {
        if (files.size() != 1)
            throw UsageError(files.isEmpty() ? QStringLiteral("no firmware FILE given")
                                             : QStringLiteral("one firmware FILE only, not %1").arg(files.size()));
        result.firmwarePath = QFileInfo(files.first()).absoluteFilePath();
    }

    for (const QCommandLineOption &single : {count, onError, records, stationName, logDir, serial}) {
        if (parser.values(single).size() > 1)
            throw UsageError(QStringLiteral("--%1 is given more than once").arg(single.names().first()));
    }
    const QString policy = parser.value(onError);
    if (policy == QLatin1String("continue"))
        result.policy = station::ErrorPolicy::Continue;
    else if (policy == QLatin1String("ask"))
        throw UsageError(QStringLiteral("--on-error ask is not for a station: nobody is asked there; "
                                        "give stop (No, the default) or continue (Yes)"));
    else if (parser.isSet(onError) && policy != QLatin1String("stop"))
        throw UsageError(QStringLiteral("--on-error takes stop or continue, not '%1'").arg(policy));

    if (parser.isSet(count))
        result.count = wholeNumber(parser.value(count), QStringLiteral("--count"));
    result.recordsTarget = parser.value(records);
    if (parser.isSet(records) && result.recordsTarget.isEmpty())
        throw UsageError(QStringLiteral("--records needs a TARGET"));
    result.stationName = parser.isSet(stationName) ? parser.value(stationName) : QSysInfo::machineHostName();
    if (result.stationName.trimmed().isEmpty())
        throw UsageError(QStringLiteral("--station needs a NAME"));
    result.logDir = parser.value(logDir);
    if (parser.isSet(logDir) && result.logDir.isEmpty())
        throw UsageError(QStringLiteral("--log-dir needs a DIR"));
    result.json = parser.isSet(json);
    result.serialSpec = parser.value(serial);
    if (parser.isSet(serial) && result.serialSpec.isEmpty())
        throw UsageError(QStringLiteral("--serial needs a FORMAT"));

    const QStringList named = parser.values(slot);
    if (named.isEmpty())
        throw UsageError(QStringLiteral("no --slot given: name each port a board is flashed on"));
    // Two slots on one device would fight over its boards: two names of one
    // port, a Com link and the socket its adapter is in, two links to one.
    QHash<QString, QString> seen; // the device reached -> the slot that reaches it
    try {
        for (const QString &text : named) {
            const station::SlotAddress address = station::slotNamed(text, context.folders.linkFolders());
            const QString reached = station::deviceReachedBy(address.path);
            const QString canonical = QFileInfo(address.path).canonicalFilePath();
            const QString identity = !reached.isEmpty() ? reached : !canonical.isEmpty() ? canonical : address.path;
            if (const auto other = seen.constFind(identity); other != seen.cend()) {
                if (*other == address.label)
                    throw UsageError(QStringLiteral("the slot %1 (%2) is given twice").arg(address.label, identity));
                throw UsageError(QStringLiteral("the slots %1 and %2 both reach %3: one device can be one slot only")
                                     .arg(*other, address.label, identity));
            }
            seen.insert(identity, address.label);
            result.slotAddresses << address;
        }
    } catch (const SerialError &error) {
        throw UsageError(QString::fromStdString(error.what()));
    } catch (const station::SlotNameError &error) {
        throw UsageError(QString::fromStdString(error.what()));
    }
    return result;
}

int StationCommand::run(const QStringList &arguments)
{
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        std::fputs(helpText(kUsage).constData(), stdout);
        return ExitSuccess;
    }
    StationArguments parsed;
    std::unique_ptr<records::RecordStore> store;
    std::unique_ptr<BoardLogFiles> logs;
    std::optional<station::StationJob> job;
    std::optional<SerialSpec> serialSpec;
    std::optional<SerialPlace> serialPlace;
    records::SerialSource serialSource;
    std::unique_ptr<records::SerialPool> serialPool;
    std::optional<station::StationSerials> serials;
    std::unique_ptr<records::JobStore> jobStore;
    std::unique_ptr<station::ApprovedJobSupply> jobSupply;
    QString jobHeading;
    std::optional<int> jobVersion;
    bool wantsBoardIds = false;
    try {
        parsed = StationArguments::parse(arguments, m_context);
        warnOfPasswordArgument(QStringLiteral("station"), parsed.recordsTarget);
        if (parsed.jobName.isEmpty()) {
            job.emplace(readCheckedImage(parsed.firmwarePath));
        } else {
            try {
                jobStore = records::openJobStore(parsed.recordsTarget);
            } catch (const records::RecordStoreError &error) {
                throw UsageError(QStringLiteral("the job %1 cannot be read from %2: %3")
                                     .arg(parsed.jobName,
                                          parsed.recordsTarget.isEmpty()
                                              ? records::defaultRecordsFile()
                                              : records::ServerTarget::withoutPassword(parsed.recordsTarget),
                                          error.reason()));
            }
            jobSupply = std::make_unique<station::ApprovedJobSupply>(*jobStore, parsed.jobName);
            // Read and checked before the first board, as before every one.
            station::BoardJob first;
            try {
                first = jobSupply->next();
            } catch (const records::RecordStoreError &error) {
                throw UsageError(QStringLiteral("the job %1 cannot be read: %2").arg(parsed.jobName, error.reason()));
            } catch (const station::JobStopped &stopped) {
                complain(stopped.reason());
                return ExitFailed;
            }
            job.emplace(*first.job);
            parsed.policy = first.policy;
            wantsBoardIds = first.wantsBoardIds();
            parsed.serialSpec = jobSupply->details().serialFormat;
            jobHeading = QStringLiteral("%1 version %2").arg(parsed.jobName).arg(first.version);
            jobVersion = first.version;
        }
        // The serial's place is found before any port is opened: an image
        // without room for it is refused here.
        if (!parsed.serialSpec.isEmpty()) {
            try {
                serialSpec = SerialSpec::parse(parsed.serialSpec);
                serialPlace = SerialPlace::find(*job->image(), serialSpec->address, serialSpec->width);
            } catch (const SerialSpecError &error) {
                throw UsageError(QStringLiteral("--serial %1: %2").arg(parsed.serialSpec, QString::fromStdString(error.what())));
            } catch (const SerialPlaceError &error) {
                throw UsageError(QStringLiteral("--serial %1: %2: %3")
                                     .arg(parsed.serialSpec, job->fileName(), QString::fromStdString(error.what())));
            }
        }
        if (!parsed.logDir.isEmpty())
            logs = std::make_unique<BoardLogFiles>(parsed.logDir);
        try {
            store = records::openRecordStore(parsed.recordsTarget);
        } catch (const records::RecordStoreError &error) {
            throw UsageError(QStringLiteral("the records cannot be kept in %1: %2")
                                 .arg(parsed.recordsTarget.isEmpty()
                                          ? records::defaultRecordsFile()
                                          : records::ServerTarget::withoutPassword(parsed.recordsTarget),
                                      error.reason()));
        }
    } catch (const std::exception &error) {
        complain(QString::fromStdString(error.what()));
        return ExitUsage;
    }

    if (serialSpec) {
        const records::SeriesRule rule{serialSpec->series, serialSpec->first, serialSpec->step, serialSpec->last()};
        try {
            serialSource = records::openSerialSource(parsed.recordsTarget, rule);
            serialPool = std::make_unique<records::SerialPool>(*serialSource.counter, rule, serialSource.sizes);
            // Before the first board: the series must have a number left.
            serialPool->prepare();
        } catch (const records::SerialsRunOut &error) {
            complain(QString::fromStdString(error.what()));
            return ExitFailed;
        } catch (const records::RecordStoreError &error) {
            complain(QStringLiteral("the serial numbers cannot be taken from %1: %2")
                         .arg(store->describe(), error.reason()));
            return ExitFailed;
        }
        serials.emplace(station::StationSerials{*serialSpec, *serialPlace, *serialPool});
    }

    const StationPrinter::Mode mode = parsed.json ? StationPrinter::Mode::Json
                                      : ::isatty(STDOUT_FILENO) ? StationPrinter::Mode::Live
                                                                : StationPrinter::Mode::Plain;
    // The live view keeps one line per slot: a socket's long by-path name
    // is shown short there ("socket 1.4"); everywhere else whole.
    QStringList labels;
    for (const station::SlotAddress &address : std::as_const(parsed.slotAddresses)) {
        const bool live = mode == StationPrinter::Mode::Live;
        if (live && UsbSocketTree::namesSocket(address.label))
            labels << UsbSocketTree::shortName(address.label);
        else if (live && UsbLocation::namesSocket(address.label))  // Windows' PCIROOT(0)#...#USB(4)
            labels << UsbLocation::shortName(address.label);
        else
            labels << address.label;
    }
    StationPrinter printer(mode, labels, job->fileName(), job->sha256(), stdout, jobHeading);
    for (int i = 0; i < parsed.slotAddresses.size(); ++i) {
        const QString path = parsed.slotAddresses[i].path;
        printer.setAdapter(i, path == parsed.slotAddresses[i].label ? QString() : path);
    }
    if (mode != StationPrinter::Mode::Json)
        std::fprintf(stderr, "quobin-cli station: %s, SHA-256 %s, records in %s\n",
                     qPrintable(jobHeading.isEmpty() ? job->path()
                                                     : QStringLiteral("job %1 (%2)").arg(jobHeading, job->fileName())),
                     qPrintable(job->sha256()), qPrintable(store->describe()));

    station::StationSetup setup;
    setup.slotAddresses = parsed.slotAddresses;
    setup.goodBoards = parsed.count;
    setup.policy = parsed.policy;
    setup.stationName = parsed.stationName;
    setup.quobinVersion = QStringLiteral("%1.%2").arg(QUOBIN_VERSION_MAJOR).arg(QUOBIN_VERSION_MINOR);
    setup.jobs = jobSupply.get();
    if (serials) {
        setup.serials = &*serials;
        printer.setSeries(serialSpec->series, serialPool->next());
    }
    const station::PortFactory openPort = [](const QString &device) {
        return makeSerialPortOn(device, [] { return CancelSignal::requested(); });
    };

    const CancelSignal cancel;
#ifdef SIGPIPE // a reader of the output that has gone is an error on write, not the end
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // A job that asks for board IDs reads them from standard input, a line
    // each: "SLOT ID" or "ID".
    std::unique_ptr<BoardIdLines> boardIds;
    if (wantsBoardIds) {
        QList<BoardIdLines::SlotName> names;
        for (const station::SlotAddress &address : std::as_const(parsed.slotAddresses))
            names.append({address.label, address.path});
        boardIds = std::make_unique<BoardIdLines>(names, [&printer](const QString &line, const QString &reason) {
            printer.boardIdLineRefused(line, reason);
        });
        setup.boardIds = boardIds.get();
    }
    // The live view goes where the records go; the target parsed already.
    const std::unique_ptr<records::LiveWriter> liveView = records::LiveWriter::forTarget(parsed.recordsTarget);
    station::LivePublisher publisher(*liveView, {parsed.stationName, labels, parsed.jobName, jobVersion, job->fileName()},
                                     [&printer](const QString &text) { printer.warning(text); });
    station::StationObservers observers({&printer, &publisher});
    station::Station station(setup, *job, *store, observers, openPort, logs.get());
    std::optional<InputLines> input;
    if (boardIds)
        input.emplace([&boardIds](const QString &line) { boardIds->feed(line); }, [&boardIds] { boardIds->end(); });
    const station::Station::End end = station.run([] { return CancelSignal::requested(); });
    input.reset();
    publisher.finish();
    printer.summary(station.counts(), endText(end, station.failure()));

    // A cancel while records were still retried: they are not lost, but the
    // operator must know where they are. As a last resort they go to stderr,
    // whole, for whoever keeps the run's output.
    const QList<records::BoardRecord> unsaved = station.unsavedRecords();
    if (!unsaved.isEmpty()) {
        const bool inSideFile = !station.sideFile().isEmpty() && QFileInfo::exists(station.sideFile());
        complain(inSideFile ? QStringLiteral("%1 records are not saved in %2 yet; they are kept in %3 and saved at "
                                             "the next start; here they are as JSON:")
                                  .arg(unsaved.size()).arg(store->describe(), station.sideFile())
                            : QStringLiteral("%1 records could not be saved anywhere; here they are as JSON:")
                                  .arg(unsaved.size()));
        for (const records::BoardRecord &record : unsaved)
            std::fprintf(stderr, "%s\n",
                         QJsonDocument(records::recordJson(record)).toJson(QJsonDocument::Compact).constData());
        if (end != station::Station::End::Failed)
            return ExitFailed;
    }

    switch (end) {
    case station::Station::End::CountReached:
    case station::Station::End::BoardIdsEnded: return ExitSuccess;
    case station::Station::End::Cancelled: return ExitCancelled;
    case station::Station::End::Failed:
        complain(station.failure());
        return ExitFailed;
    }
    return ExitFailed;
}

} // namespace quobin::cli
