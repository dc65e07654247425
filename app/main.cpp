#include "Form1.h"
#include "Clock.h"
#include "PortDescription.h"
#include "PortNames.h"
#include "ProgramUsage.h"
#include "QtFileDialog.h"
#include "QtMessageBoxes.h"
#include "SerialPorts.h"
#include "StorageFolders.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

bool asksForHelp(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    }
    return false;
}

} // namespace

namespace {

int runProgram(int argc, char *argv[])
{
    // Answered before the application exists: a terminal without a display
    // gets the usage instead of Qt's abort.
    if (asksForHelp(argc, argv)) {
        std::fputs(kProgramUsage, stdout);
        return 0;
    }
    QApplication app(argc, argv);
    const quobin::StorageFolders folders = quobin::storageFoldersFor(QCoreApplication::applicationDirPath());
    const QStringList linkFolders = folders.linkFolders();
    // A system install saves into the per-user folder, which may not exist
    // yet. Should it fail, the save at exit names the path it could not write.
    folders.makeWriteFolder();

    const std::unique_ptr<quobin::SerialPort> port =
        quobin::makeSerialPort([linkFolders](qint16 number) { return quobin::portNameFor(number, linkFolders); });
    quobin::SteadyClock clock;
    quobin::QtMessageBoxes boxes;
    quobin::QtFileDialog fileDialog;
    const auto describePort = [linkFolders](int number) {
        return quobin::describePort(qint16(number), linkFolders);
    };
    quobin::Form1 window({*port, clock, boxes, fileDialog, describePort}, folders.settingsLocation(),
                         {QUOBIN_VERSION_MAJOR, QUOBIN_VERSION_MINOR});
    QObject::connect(&window, &quobin::Form1::exitRequested, &app, &QCoreApplication::quit);
    window.show();
    return app.exec();
}

} // namespace

// The last stop for an error nobody expected: a message and a status, not
// an abort.
int main(int argc, char *argv[])
{
    try {
        return runProgram(argc, argv);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s: unexpected error: %s\n", "quobin", error.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected error\n", "quobin");
    }
    return 1;
}
