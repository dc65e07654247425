// vantor-sim: a controller on a pseudo-terminal, for trying the uploader
// without hardware. Prints the device path to open and runs until stopped.

#include "ControllerSimulator.h"
#include "FaultNames.h"
#include "SimulatorError.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>

using namespace quobin::sim;

namespace {

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
    if (parser.isSet(QStringLiteral("verbose"))) {
        auto mutex = std::make_shared<std::mutex>();
        config.log = [mutex](const QString &line) {
            std::lock_guard lock(*mutex);
            std::fprintf(stderr, "%s\n", qPrintable(line));
        };
    }
    return config;
}

} // namespace

int main(int argc, char *argv[])
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
        { QStringLiteral("no-caret"), QStringLiteral("Do not send \"^\" after the main-code command; send it on SIGUSR1 (the operator's reset).") },
        { QStringLiteral("fault"), QStringLiteral("Misbehave as NAME says; see the list above."), QStringLiteral("NAME[:k[:arg]]") },
        { QStringLiteral("pace"), QStringLiteral("Model a real wire at the host's baud rate.") },
        { QStringLiteral("exit-after-upload"), QStringLiteral("Exit once the end-of-file record has been answered.") },
        { QStringLiteral("verbose"), QStringLiteral("Log the traffic to stderr.") },
    });
    parser.process(app);

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

        const bool exitAfterUpload = parser.isSet(QStringLiteral("exit-after-upload"));
        const timespec tick { 0, 100'000'000 };
        for (;;) {
            const int signal = sigtimedwait(&watchedSignals, nullptr, &tick);
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
        if (!link.isEmpty())
            QFile::remove(link);
    } catch (const SimulatorError &error) {
        std::fprintf(stderr, "vantor-sim: %s\n", error.what());
        return 1;
    }
    return 0;
}
