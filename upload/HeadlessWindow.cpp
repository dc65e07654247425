#include "HeadlessWindow.h"

#include "LogText.h"
#include "SerialPort.h"

namespace quobin {

namespace {

// The longest a wait blocks on the port in one pass: short enough that a
// cancel is seen within a tenth of a second; a byte wakes it at once anyway.
// Each pass costs a wake-up: 32 slots waiting for boards make 320 a second.
constexpr int kMaxBlockMsecs = 100;
// Progress is reported at most this often, and at the first and last line.
constexpr int kProgressEveryMsecs = 100;

} // namespace

HeadlessWindow::HeadlessWindow(SerialPort &port, QString firmwarePath, int linesToSend)
    : m_port(port), m_firmwarePath(std::move(firmwarePath)), m_linesToSend(linesToSend)
{
}

void HeadlessWindow::setLinesRemaining(qint16 lines)
{
    m_linesRemaining = lines;
    if (m_counting)
        reportProgress(false);
}

// The total comes once the file has been counted; from then on each line
// dealt with moves the bar.
void HeadlessWindow::setTotalLines(qint16 lines)
{
    m_totalLines = lines;
    m_counting = true;
    reportProgress(true);
}

void HeadlessWindow::reportProgress(bool force)
{
    const int sent = int(m_totalLines) - int(m_linesRemaining);
    const bool last = sent >= m_linesToSend;
    if (sent == m_lastSent)
        return;
    if (!force && !last && m_sinceProgress.isValid() && m_sinceProgress.elapsed() < kProgressEveryMsecs)
        return;
    m_lastSent = sent;
    m_sinceProgress.start();
    progressed(sent, m_linesToSend);
}

void HeadlessWindow::letEventsRun(int maxBlockMsecs)
{
    if (maxBlockMsecs > 0 && !cancelRequested())
        m_port.waitForInput(qMin(maxBlockMsecs, kMaxBlockMsecs));
}

void HeadlessWindow::showPlainBox(const QString &text)
{
    note(QStringLiteral("box ") + quotedText(text));
}

void HeadlessWindow::showWarningBox(const QString &text)
{
    note(QStringLiteral("warning box ") + quotedText(text));
}

void HeadlessWindow::bootloaderVersionRead(float version)
{
    note(QStringLiteral("bootloader version ") + QString::number(version, 'g', 6));
}

void HeadlessWindow::lineResent(int lineNumber, int send)
{
    note(QStringLiteral("resend of line %1 (send %2)").arg(lineNumber).arg(send));
}

void HeadlessWindow::staleAnswerDropped(int lineNumber, const QByteArray &bytes)
{
    const QString after = lineNumber > 0 ? QStringLiteral("after line %1").arg(lineNumber)
                                         : QStringLiteral("before the first line");
    note(QStringLiteral("stale answer %1 dropped: \"%2\"").arg(after, escapedBytes(bytes)));
}

void HeadlessWindow::noteQuestion(const QString &text, bool answer, const QString &why)
{
    note(QStringLiteral("question ") + quotedText(text) + QStringLiteral(" answered ")
         + (answer ? QStringLiteral("yes") : QStringLiteral("no")) + (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
}

void HeadlessWindow::noteStatus(const QString &text)
{
    note(QStringLiteral("status ") + quotedText(text));
}

} // namespace quobin
