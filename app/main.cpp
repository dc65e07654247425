#include "Form1.h"
#include "Clock.h"
#include "PortDescription.h"
#include "PortNames.h"
#include "QtFileDialog.h"
#include "QtMessageBoxes.h"
#include "QtSerialPort.h"
#include "StorageFolders.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const quobin::StorageFolders folders = quobin::storageFoldersFor(QCoreApplication::applicationDirPath());
    const QStringList linkFolders = folders.linkFolders();
    // A system install saves into the per-user folder, which may not exist
    // yet. Should it fail, the save at exit names the path it could not write.
    folders.makeWriteFolder();

    quobin::QtSerialPort port([linkFolders](qint16 number) { return quobin::portNameFor(number, linkFolders); });
    quobin::SteadyClock clock;
    quobin::QtMessageBoxes boxes;
    quobin::QtFileDialog fileDialog;
    const auto describePort = [linkFolders](int number) {
        return quobin::describePort(qint16(number), linkFolders);
    };
    quobin::Form1 window({port, clock, boxes, fileDialog, describePort}, folders.settingsLocation(),
                         {QUOBIN_VERSION_MAJOR, QUOBIN_VERSION_MINOR});
    QObject::connect(&window, &quobin::Form1::exitRequested, &app, &QCoreApplication::quit);
    window.show();
    return app.exec();
}
