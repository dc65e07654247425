#pragma once

#include "QuestionDesk.h"
#include "HeadlessWindow.h"

#include <QString>

namespace quobin {
class SerialPort;
}

namespace quobin::cli {

class Printer;
class UploadLog;

// The engine's window on a terminal, one per port. Status texts become
// status events, the count becomes progress, the questions follow the error
// policy, and letting events run blocks on the port alone. Cancel is the
// Ctrl-C/SIGTERM/SIGHUP flag.
class TerminalWindow : public HeadlessWindow {
public:
    struct Setup {
        int portIndex = 0;
        QString portLabel;
        QString firmwarePath;
        // Lines of the file that carry something: the progress bar's whole.
        int linesToSend = 0;
        ErrorPolicy policy = ErrorPolicy::Stop;
    };

    TerminalWindow(Setup setup, SerialPort &port, Printer &printer, QuestionDesk &desk,
                   UploadLog *log);

    // True when a cancel interrupted a question: the engine heard No, the
    // operator meant Cancel.
    bool questionCancelled() const { return m_questionCancelled; }

    void setStatus(const QString &text) override;
    bool cancelRequested() const override;
    bool askYesNo(const QString &text) override;

protected:
    void progressed(int sent, int total) override;
    void note(const QString &text) override;

private:
    const Setup m_setup;
    Printer &m_printer;
    QuestionDesk &m_desk;
    UploadLog *m_log;
    bool m_questionCancelled = false;
};

} // namespace quobin::cli
