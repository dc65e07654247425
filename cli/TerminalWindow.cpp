#include "TerminalWindow.h"

#include "CancelSignal.h"
#include "Printer.h"
#include "SerialPort.h"
#include "UploadLog.h"

namespace quobin::cli {

namespace {

// The longest a wait blocks on the port in one pass: short enough that a
// Ctrl-C is seen at once; a byte wakes it at once anyway.
constexpr int kMaxBlockMsecs = 50;
// Progress is reported at most this often, and at the first and last line.
constexpr int kProgressEveryMsecs = 100;

} // namespace

TerminalWindow::TerminalWindow(Setup setup, SerialPort &port, Printer &printer, QuestionDesk &desk,
                               UploadLog *log)
    : m_setup(std::move(setup)), m_port(port), m_printer(printer), m_desk(desk), m_log(log)
{
}

void TerminalWindow::setStatus(const QString &text)
{
    m_printer.status(m_setup.portIndex, text);
    log(QStringLiteral("status ") + UploadLog::quoted(text));
}

void TerminalWindow::setLinesRemaining(qint16 lines)
{
    m_linesRemaining = lines;
    if (m_counting)
        reportProgress(false);
}

// The total comes once the file has been counted; from then on each line
// dealt with moves the bar.
void TerminalWindow::setTotalLines(qint16 lines)
{
    m_totalLines = lines;
    m_counting = true;
    reportProgress(true);
}

void TerminalWindow::reportProgress(bool force)
{
    const int sent = int(m_totalLines) - int(m_linesRemaining);
    const bool last = sent >= m_setup.linesToSend;
    if (sent == m_lastSent)
        return;
    if (!force && !last && m_sinceProgress.isValid() && m_sinceProgress.elapsed() < kProgressEveryMsecs)
        return;
    m_lastSent = sent;
    m_sinceProgress.start();
    m_printer.progress(m_setup.portIndex, sent, m_setup.linesToSend);
}

bool TerminalWindow::cancelRequested() const
{
    return CancelSignal::requested();
}

// No window events to run: block on the port alone, briefly, so the next
// pass sees an arriving byte at once and a cancel soon after it is asked.
void TerminalWindow::letEventsRun(int maxBlockMsecs)
{
    if (maxBlockMsecs > 0 && !CancelSignal::requested())
        m_port.waitForInput(qMin(maxBlockMsecs, kMaxBlockMsecs));
}

void TerminalWindow::showPlainBox(const QString &text)
{
    log(QStringLiteral("box ") + UploadLog::quoted(text));
}

void TerminalWindow::showWarningBox(const QString &text)
{
    log(QStringLiteral("warning box ") + UploadLog::quoted(text));
}

bool TerminalWindow::askYesNo(const QString &text)
{
    bool answer = false;
    // After a Ctrl-C the operator wants out: a question that comes up while
    // the engine heads for its next checkpoint is not put to anyone.
    if (CancelSignal::requested()) {
        m_questionCancelled = true;
        m_printer.prompt(m_setup.portIndex, text, false);
        log(QStringLiteral("question ") + UploadLog::quoted(text) + QStringLiteral(" answered no: cancelled"));
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
    log(QStringLiteral("question ") + UploadLog::quoted(text) + QStringLiteral(" answered ")
        + (answer ? QStringLiteral("yes") : QStringLiteral("no")));
    return answer;
}

void TerminalWindow::bootloaderVersionRead(float version)
{
    log(QStringLiteral("bootloader version ") + QString::number(version, 'g', 6));
}

void TerminalWindow::lineResent(int lineNumber, int send)
{
    log(QStringLiteral("resend of line %1 (send %2)").arg(lineNumber).arg(send));
}

void TerminalWindow::staleAnswerDropped(int lineNumber, const QByteArray &bytes)
{
    const QString after = lineNumber > 0 ? QStringLiteral("after line %1").arg(lineNumber)
                                         : QStringLiteral("before the first line");
    log(QStringLiteral("stale answer %1 dropped: \"%2\"").arg(after, UploadLog::escaped(bytes)));
}

void TerminalWindow::log(const QString &text)
{
    if (m_log)
        m_log->write(m_setup.portLabel, text);
}

} // namespace quobin::cli
