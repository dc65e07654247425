#pragma once

#include "Printer.h"
#include "TerminalWindow.h"
#include "UploadArguments.h"
#include "FirmwareImage.h"
#include "UploadOutcome.h"

#include <QList>

namespace quobin::cli {

class FileArgument;
class QuestionDesk;
class UploadLog;

// Uploads one file to every port at once. Each port has its own thread, its
// own serial port, engine and terminal window; the ports share only the
// file's one reading, the printer, the question desk and the log, each safe
// to use from any thread.
// A port that fails, asks or vanishes holds up no other.
class GangUpload {
public:
    GangUpload(const UploadArguments &arguments, const FileArgument &file,
               std::shared_ptr<const FirmwareImage> image, int linesToSend, Printer &printer,
               QuestionDesk &desk, UploadLog *log);

    // Runs every port to its end; redraws the live lines meanwhile.
    QList<PortResult> run();

private:
    PortResult uploadOn(int index);

    const UploadArguments &m_arguments;
    const FileArgument &m_file;
    const std::shared_ptr<const FirmwareImage> m_image;
    const int m_linesToSend;
    Printer &m_printer;
    QuestionDesk &m_desk;
    UploadLog *m_log;
};

} // namespace quobin::cli
