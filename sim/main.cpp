// vantor-sim: a controller on a pseudo-terminal, for trying the uploader
// without hardware. Prints the device path to open and runs until stopped.

#include "ControlChannel.h"
#include "ControllerSimulator.h"
#include "FaultNames.h"
#include "FixtureRecorder.h"
#include "HexRecord.h"
#include "SimulatorError.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <mutex>
#include <optional>
#include <unistd.h>

using namespace quobin::sim;

namespace {

// A whole number of 0 or more given to an option.
int wholeNumber(const QCommandLineParser &parser, const QString &option)
{
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (!ok || value < 0)
        throw SimulatorError(("--" + option + " needs a whole number of 0 or more").toStdString());
    return value;
}

SimulatorConfig configFrom(const QCommandLineParser &parser)
{
    SimulatorConfig config;
    config.version = parser.value(QStringLiteral("version")).toLatin1();
    if (parser.isSet(QStringLiteral("no-caret"))) {
        config.caretDelayMs = -1;
    } else if (parser.isSet(QStringLiteral("caret-delay"))) {
        bool ok = false;
        config.caretDelayMs = parser.value(QStringLiteral("caret-delay")).toInt(&ok);
        if (!ok || config.caretDelayMs < 0)
            throw SimulatorError("--caret-delay needs milliseconds");
    }
    for (const QString &option : parser.values(QStringLiteral("fault")))
        config.faults.append(FaultNames::parse(option));
    config.paced = parser.isSet(QStringLiteral("pace"));
    config.stayAwake = !parser.isSet(QStringLiteral("no-stay-awake"));
    config.fixture.enabled = parser.isSet(QStringLiteral("fixture"));
    if (config.fixture.enabled) {
        config.fixture.gapMs = wholeNumber(parser, QStringLiteral("fixture"));
        if (parser.isSet(QStringLiteral("quiet-swap")))
            config.fixture.quietSwapMs = wholeNumber(parser, QStringLiteral("quiet-swap"));
        if (parser.isSet(QStringLiteral("boards")))
            config.fixture.boards = wholeNumber(parser, QStringLiteral("boards"));
    } else if (parser.isSet(QStringLiteral("boards")) || parser.isSet(QStringLiteral("quiet-swap"))) {
        throw SimulatorError("--boards and --quiet-swap belong to --fixture");
    }
    if (parser.isSet(QStringLiteral("verbose"))) {
        auto mutex = std::make_shared<std::mutex>();
        config.log = [mutex](const QString &line) {
            std::lock_guard lock(*mutex);
            std::fprintf(stderr, "%s\n", qPrintable(line));
        };
    }
    return config;
}

// A sample image for trying an upload: Intel HEX data records and the
// end-of-file record, lines ended by CR LF.
int writeSample(const QString &path, const QString &records)
{
    bool ok = false;
    const int count = records.toInt(&ok);
    if (!ok || count < 0 || count > 32766) {
        std::fprintf(stderr, "vantor-sim: --records needs a number from 0 to 32766\n");
        return 1;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(HexRecord::sampleImage(count)) < 0 || !file.flush()) {
        std::fprintf(stderr, "vantor-sim: cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return 1;
    }
    return 0;
}

} // namespace

// How often each firmware line arrived, for a test to say which line the
// controller got and how often.
bool writeLineCounts(const QString &path, const QList<LineCount> &counts)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (const LineCount &count : counts)
        file.write(QByteArray::number(count.times) + '\t' + count.text + '\n');
    return file.flush();
}

namespace {

int runProgram(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantor-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays a Vantor controller on a pseudo-terminal and prints the device to open.\n\nFaults (--fault, repeatable; k is a line number from 1, counted over every line received, resends included):\n")
        + FaultNames::help());
    parser.addHelpOption();
    parser.addOptions({
        { QStringLiteral("link"), QStringLiteral("Make PATH a symbolic link to the device, e.g. bin/com1."), QStringLiteral("PATH") },
        { QStringLiteral("version"), QStringLiteral("Bootloader version sent after \"?V\" (none by default)."), QStringLiteral("TEXT") },
        { QStringLiteral("caret-delay"), QStringLiteral("Milliseconds from the main-code command to \"^\" (300)."), QStringLiteral("MS") },
        { QStringLiteral("no-caret"), QStringLiteral("Do not send \"^\" after the main-code command; send it on SIGUSR1 (the operator's reset, which also works without this option).") },
        { QStringLiteral("fault"), QStringLiteral("Misbehave as NAME says; see the list above."), QStringLiteral("NAME[:k[:arg]]") },
        { QStringLiteral("pace"), QStringLiteral("Model a real wire at the host's baud rate.") },
        { QStringLiteral("no-stay-awake"), QStringLiteral("With --pace: sleep between the host's lines instead of polling for the next one; spares a core, at the cost of a wake-up's delay on each answer.") },
        { QStringLiteral("fixture"), QStringLiteral("Play a fixture: after each board's \"@\" the next board arrives MS later and sends \"^\" (the first one comes with the main-code command or a reset)."), QStringLiteral("MS") },
        { QStringLiteral("quiet-swap"), QStringLiteral("With --fixture: a board that did not finish is swapped once the host has sent it nothing for MS (4000), and a board whose \"^\" went unanswered for MS says \"^\" again; 0: neither."), QStringLiteral("MS") },
        { QStringLiteral("boards"), QStringLiteral("With --fixture: the fixture holds N boards, then none arrive (no end by default); a reset (SIGUSR1) always brings one."), QStringLiteral("N") },
        { QStringLiteral("record-dir"), QStringLiteral("Keep DIR/board-N.hex (the lines board N took into its flash, each ended by CR LF) and DIR/fixture.json (boards, main-code commands, uploads, each board's SHA-256) up to date."), QStringLiteral("DIR") },
        { QStringLiteral("chatter"), QStringLiteral("Send \"^\" every MS milliseconds whatever the host says, as a board stuck in a reset loop does (use with --fault silent for one that never answers)."), QStringLiteral("MS") },
        { QStringLiteral("chatter-for"), QStringLiteral("With --chatter: stop chattering MS milliseconds after the start (0: never)."), QStringLiteral("MS") },
        { QStringLiteral("exit-after-upload"), QStringLiteral("Exit once the end-of-file record has been answered.") },
        { QStringLiteral("verbose"), QStringLiteral("Log the traffic to stderr.") },
        { QStringLiteral("control"), QStringLiteral("Take commands on stdin, one a line, each answered with a line on stdout (after the device path): \"report\" (a JSON object of everything received so far), \"vanish\" (the device disappears), \"reset\" (as SIGUSR1).") },
        { QStringLiteral("line-counts"), QStringLiteral("At exit, write to PATH how often each firmware line arrived: one line each, in order of first arrival, the count, a tab and the line."), QStringLiteral("PATH") },
        { QStringLiteral("write-sample"), QStringLiteral("Write a sample firmware image of N 16-byte records to PATH, and exit."), QStringLiteral("PATH") },
        { QStringLiteral("records"), QStringLiteral("Records in the sample image (3000)."), QStringLiteral("N"), QStringLiteral("3000") },
    });
    parser.process(app);

    if (parser.isSet(QStringLiteral("write-sample")))
        return writeSample(parser.value(QStringLiteral("write-sample")), parser.value(QStringLiteral("records")));

    // Signals are taken by sigtimedwait below; block them before the
    // simulator's thread starts so that it inherits the mask.
    sigset_t watchedSignals;
    sigemptyset(&watchedSignals);
    sigaddset(&watchedSignals, SIGINT);
    sigaddset(&watchedSignals, SIGTERM);
    sigaddset(&watchedSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &watchedSignals, nullptr);

    try {
        ControllerSimulator simulator(configFrom(parser));
        const QString link = parser.value(QStringLiteral("link"));
        if (!link.isEmpty())
            simulator.createLink(link);
        std::printf("%s\n", qPrintable(simulator.slavePath()));
        std::fflush(stdout);
        std::optional<ControlChannel> control;
        if (parser.isSet(QStringLiteral("control")))
            control.emplace(simulator, STDIN_FILENO, STDOUT_FILENO);

        std::optional<FixtureRecorder> recorder;
        if (parser.isSet(QStringLiteral("record-dir")))
            recorder.emplace(parser.value(QStringLiteral("record-dir")));
        const auto record = [&] {
            if (recorder)
                recorder->update(simulator.boards(), simulator.mainCodeCommands(), simulator.uploadsCompleted());
        };
        record();

        const bool exitAfterUpload = parser.isSet(QStringLiteral("exit-after-upload"));
        const int chatterMs = parser.isSet(QStringLiteral("chatter")) ? wholeNumber(parser, QStringLiteral("chatter")) : 0;
        const int chatterForMs = parser.isSet(QStringLiteral("chatter-for")) ? wholeNumber(parser, QStringLiteral("chatter-for")) : 0;
        if (parser.isSet(QStringLiteral("chatter")) && chatterMs < 1)
            throw SimulatorError("--chatter needs 1 ms or more");
        QElapsedTimer running;
        running.start();
        qint64 nextChatter = chatterMs;
        for (;;) {
            // The loop wakes at least every 100 ms, and in time for the next "^" of a chattering line.
            qint64 waitMs = 100;
            const bool chattering = chatterMs > 0 && (chatterForMs == 0 || running.elapsed() < chatterForMs);
            if (chattering)
                waitMs = qBound(qint64(0), nextChatter - running.elapsed(), qint64(100));
            const timespec tick { 0, long(waitMs * 1'000'000) };
            const int signal = sigtimedwait(&watchedSignals, nullptr, &tick);
            if (chattering && running.elapsed() >= nextChatter) {
                simulator.send(QByteArrayLiteral("^"));
                nextChatter += chatterMs;
            }
            record();
            if (signal == SIGUSR1) {
                simulator.sendActiveCharacter();
                continue;
            }
            if (signal > 0)
                break;
            if (exitAfterUpload && simulator.uploadsCompleted() > 0 && !simulator.hasPendingOutput()) {
                // Give the host a moment to read the last answer before the device goes.
                const timespec linger { 0, 500'000'000 };
                nanosleep(&linger, nullptr);
                break;
            }
        }
        record();
        if (!link.isEmpty())
            QFile::remove(link);
        const QString countsPath = parser.value(QStringLiteral("line-counts"));
        if (!countsPath.isEmpty() && !writeLineCounts(countsPath, simulator.lineCounts())) {
            std::fprintf(stderr, "vantor-sim: cannot write %s\n", qPrintable(countsPath));
            return 1;
        }
    } catch (const SimulatorError &error) {
        std::fprintf(stderr, "vantor-sim: %s\n", error.what());
        return 1;
    }
    return 0;
}

} // namespace

// The last stop for an error nobody expected: a message and a status, not
// an abort.
int main(int argc, char *argv[])
{
    try {
        return runProgram(argc, argv);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s: unexpected error: %s\n", "vantor-sim", error.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected error\n", "vantor-sim");
    }
    return 1;
}
