#include "EngineStationDriver.h"
#include "JobApprovalDialog.h"
#include "JobStore.h"
#include "PortDescription.h"
#include "QtFileDialog.h"
#include "QtMessageBoxes.h"
#include "SerialPorts.h"
#include "RecordCsv.h"
#include "RecordStores.h"
#include "SaveFileDialog.h"
#include "SlotCandidates.h"
#include "StationSetup.h"
#include "StationWindow.h"
#include "StorageFolders.h"
#include "TerminationSignal.h"
#include "ToneSounds.h"

#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <exception>

namespace {

int runProgram(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quobin-station"));
    const quobin::StorageFolders folders = quobin::storageFoldersFor(QCoreApplication::applicationDirPath());
    folders.makeWriteFolder();
    const QStringList linkFolders = folders.linkFolders();

    quobin::EngineStationDriver driver(
        linkFolders,
        [](const QString &device) { return quobin::makeSerialPortOn(device); },
        QStringLiteral("%1.%2").arg(QUOBIN_VERSION_MAJOR).arg(QUOBIN_VERSION_MINOR));
    quobin::QtMessageBoxes boxes;
    quobin::QtFileDialog fileDialog;
    quobin::QtSaveFileDialog saveDialog;
    quobin::ToneSounds sounds;
    quobin::QtJobApprovalDialog approvalDialog;
    quobin::StationWindow window(
        {driver, boxes, fileDialog, saveDialog, sounds,
         [linkFolders] {
             return quobin::slotCandidates(
                 [linkFolders](int n) { return quobin::describePort(qint16(n), linkFolders); });
         },
         [](const QString &target) { return quobin::records::openRecordStore(target); },
         [](const QList<quobin::records::BoardRecord> &list) { return quobin::records::recordsCsv(list); },
         [](const QString &target) { return quobin::records::openRecordReader(target); },
         [](const QString &target) { return quobin::records::openJobStore(target); }, &approvalDialog},
        quobin::stationSetupPath(folders.writeFolder()));
    // Large on a desktop, and never beyond a small screen.
    window.resize(QSize(1100, 760).boundedTo(window.screen()->availableGeometry().size()));
    window.show();
    // A logout or shutdown is Stop: the boards in progress are recorded.
    quobin::TerminationSignal termination;
    QObject::connect(&termination, &quobin::TerminationSignal::received, &window, &quobin::StationWindow::terminate);
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
        std::fprintf(stderr, "%s: unexpected error: %s\n", "quobin-station", error.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected error\n", "quobin-station");
    }
    return 1;
}
