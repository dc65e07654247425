// quobin-cli: scripted and gang uploads on the same engine as the window.
#include "ArgumentSecrets.h"
#include "ArgumentText.h"
#include "CliMain.h"
#include "StorageFolders.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// Every error the program meets is reported in its own words, once; the
// library's own debug output and warnings would only repeat it, in words no
// operator knows. What stops the program still gets through.
void keepLibraryQuiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "quobin-cli: %s\n", message.toUtf8().constData());
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(keepLibraryQuiet);
    QCoreApplication app(argc, argv);
    // The arguments with every byte kept: Qt's own decoding would lose a
    // file name that is not UTF-8.
    const QStringList arguments = quobin::cli::argumentsKeepingBytes(argc, argv);
    // Taken from here on: what ps and /proc show of a password is stars.
    quobin::cli::hidePasswordArguments(argc, argv);
    return quobin::cli::runCli(arguments, {quobin::storageFoldersFor(QCoreApplication::applicationDirPath())});
}
