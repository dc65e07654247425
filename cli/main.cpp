// quobin-cli: scripted and gang uploads on the same engine as the window.
#include "ArgumentText.h"
#include "CliMain.h"
#include "StorageFolders.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return quobin::cli::runCli(quobin::cli::argumentsKeepingBytes(argc, argv),
                               {quobin::storageFoldersFor(QCoreApplication::applicationDirPath())});
}
