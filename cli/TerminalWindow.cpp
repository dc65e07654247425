#include "TerminalWindow.h"

#include "CancelSignal.h"
#include "Printer.h"
#include "UploadLog.h"

namespace quobin::cli {

TerminalWindow::TerminalWindow(Setup setup, SerialPort &port, Printer &printer, QuestionDesk &desk,
                               UploadLog *log)
    : HeadlessWindow(port, setup.firmwarePath, setup.linesToSend),
      m_setup(std::move(setup)), m_printer(printer), m_desk(desk), m_log(log)
{
}

void TerminalWindow::setStatus(const QString &text)
{
    m_printer.status(m_setup.portIndex, text);
    noteStatus(text);
}

void TerminalWindow::progressed(int sent, int total)
{
    m_printer.progress(m_setup.portIndex, sent, total);
}

bool TerminalWindow::cancelRequested() const
{
    return CancelSignal::requested();
}

bool TerminalWindow::askYesNo(const QString &text)
{
    bool answer = false;
    // After a Ctrl-C the operator wants out: a question that comes up while
    // the engine heads for its next checkpoint is not put to anyone.
    if (CancelSignal::requested()) {
        m_questionCancelled = true;
        m_printer.prompt(m_setup.portIndex, text, false);
        noteQuestion(text, false, QStringLiteral("cancelled"));
        return false;
    }
    switch (m_setup.policy) {
    case ErrorPolicy::Continue:
        answer = true;
        break;
    case ErrorPolicy::Stop:
        answer = false;
        break;
    case ErrorPolicy::Ask: {
        bool interrupted = false;
        answer = m_desk.ask(m_setup.portIndex, text, interrupted);
        m_questionCancelled = interrupted;
        break;
    }
    }
    m_printer.prompt(m_setup.portIndex, text, answer);
    noteQuestion(text, answer);
    return answer;
}

void TerminalWindow::note(const QString &text)
{
    if (m_log)
        m_log->write(m_setup.portLabel, text);
}

} // namespace quobin::cli
