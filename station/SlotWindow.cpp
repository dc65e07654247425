#include "SlotWindow.h"

#include "BoardLog.h"
#include "RunControl.h"
#include "SerialPort.h"

namespace quobin::station {

namespace {

// The engine's status while it waits for the bootloader's "^".
const QString kWaitingForBoard = QStringLiteral("Waiting for Bootloader Active Character...Reset target...");
// The longest a wait blocks on the port in one pass: a cancel is seen soon
// after it is asked; an arriving byte wakes it at once anyway.
constexpr int kMaxBlockMsecs = 50;
// Progress is reported at most this often, and at the first and last line.
constexpr int kProgressEveryMsecs = 100;

} // namespace

SlotWindow::SlotWindow(Setup setup, SerialPort &port, RunControl &control,
                       StationObserver &observer, BoardLog *log)
    : m_setup(std::move(setup)), m_port(port), m_control(control), m_observer(observer), m_log(log)
{
}

void SlotWindow::setStatus(const QString &text)
{
    note(QStringLiteral("status \"") + text + QLatin1Char('"'));
    if (text == kWaitingForBoard) {
        m_waitShown = true;
        m_observer.slotStatus(m_setup.slot, SlotState::Waiting, QStringLiteral("waiting for a board"));
        return;
    }
    if (m_waitShown && !m_boardStarted) {
        m_boardStarted = true;
        m_startedAt = QDateTime::currentDateTimeUtc();
        m_observer.boardStarted(m_setup.slot);
    }
    if (m_boardStarted)
        m_observer.slotStatus(m_setup.slot, SlotState::Flashing, text);
}

void SlotWindow::setLinesRemaining(qint16 lines)
{
    m_linesRemaining = lines;
    if (m_counting)
        reportProgress(false);
}

void SlotWindow::setTotalLines(qint16 lines)
{
    m_totalLines = lines;
    m_counting = true;
    reportProgress(true);
}

void SlotWindow::reportProgress(bool force)
{
    const int sent = int(m_totalLines) - int(m_linesRemaining);
    const bool last = sent >= m_setup.linesToSend;
    if (sent == m_lastSent)
        return;
    if (!force && !last && m_sinceProgress.isValid() && m_sinceProgress.elapsed() < kProgressEveryMsecs)
        return;
    m_lastSent = sent;
    m_sinceProgress.start();
    m_observer.progress(m_setup.slot, sent, m_setup.linesToSend);
}

// Ctrl-C stops everything at the next checkpoint; the end of the run stops
// only the slots that are still waiting, so no board is left half flashed.
bool SlotWindow::cancelRequested() const
{
    return m_control.cancelled() || (m_control.finishing() && !m_boardStarted);
}

void SlotWindow::letEventsRun(int maxBlockMsecs)
{
    if (maxBlockMsecs > 0 && !cancelRequested())
        m_port.waitForInput(qMin(maxBlockMsecs, kMaxBlockMsecs));
}

void SlotWindow::showPlainBox(const QString &text)
{
    note(QStringLiteral("box \"") + text + QLatin1Char('"'));
}

void SlotWindow::showWarningBox(const QString &text)
{
    note(QStringLiteral("warning box \"") + text + QLatin1Char('"'));
}

bool SlotWindow::askYesNo(const QString &text)
{
    bool answer = m_setup.policy == ErrorPolicy::Continue;
    if (m_control.cancelled()) {
        m_questionCancelled = true;
        answer = false;
    }
    note(QStringLiteral("question \"") + text + QStringLiteral("\" answered ")
         + (answer ? QStringLiteral("yes") : QStringLiteral("no")));
    return answer;
}

void SlotWindow::bootloaderVersionRead(float version)
{
    m_bootloaderVersion = version;
    note(QStringLiteral("bootloader version ") + QString::number(version, 'g', 6));
}

void SlotWindow::lineResent(int lineNumber, int send)
{
    note(QStringLiteral("resend of line %1 (send %2)").arg(lineNumber).arg(send));
}

// The bytes themselves are in the log as received; this says what became of them.
void SlotWindow::staleAnswerDropped(int lineNumber, const QByteArray &bytes)
{
    const QString after = lineNumber > 0 ? QStringLiteral("after line %1").arg(lineNumber)
                                         : QStringLiteral("before the first line");
    note(QStringLiteral("stale answer %1 dropped (%2 bytes)").arg(after).arg(bytes.size()));
}

void SlotWindow::note(const QString &text)
{
    if (m_log)
        m_log->note(text);
}

} // namespace quobin::station
