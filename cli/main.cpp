// quobin-cli: scripted and gang uploads on the same engine as the window.
#include "ArgumentSecrets.h"
#include "ArgumentText.h"
#include "CliMain.h"
#include "StorageFolders.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

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

namespace {

int runProgram(int argc, char *argv[])
{
    qInstallMessageHandler(keepLibraryQuiet);
    QCoreApplication app(argc, argv);
#ifdef Q_OS_WIN
    // Windows gives the arguments as UTF-16, which Qt reads whole; the
    // console shows what the program writes in the code page it writes in
    // (UTF-8, which the program's manifest asks for).
    SetConsoleOutputCP(GetACP());
    const QStringList arguments = QCoreApplication::arguments();
#else
    // The arguments with every byte kept: Qt's own decoding would lose a
    // file name that is not UTF-8.
    const QStringList arguments = quobin::cli::argumentsKeepingBytes(argc, argv);
    // Taken from here on: what ps and /proc show of a password is stars.
    // (Windows keeps the command line apart from argv; there it stays.)
    quobin::cli::hidePasswordArguments(argc, argv);
#endif
    const int status = quobin::cli::runCli(arguments, {quobin::storageFoldersFor(QCoreApplication::applicationDirPath())});
#ifdef Q_OS_WIN
    // Everything the command did is done and saved (ports closed, records
    // committed, their threads joined). The static destructors that would
    // follow can deadlock in the threads library's thread-local keys when a
    // worker thread ended just before (seen as a hang at exit after a
    // station run): flush the output and end here.
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), UINT(status));
#endif
    return status;
}

} // namespace

// The last stop for an error nobody expected: a message and a status, not
// an abort.
int main(int argc, char *argv[])
{
    try {
        return runProgram(argc, argv);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s: unexpected error: %s\n", "quobin-cli", error.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected error\n", "quobin-cli");
    }
    return 1;
}
