#include "SlotWindow.h"

#include "BoardLog.h"
#include "RunControl.h"

namespace quobin::station {

namespace {

// The engine's status while it waits for the bootloader's "^".
const QString kWaitingForBoard = QStringLiteral("Waiting for Bootloader Active Character...Reset target...");

} // namespace

SlotWindow::SlotWindow(Setup setup, SerialPort &port, RunControl &control,
                       StationObserver &observer, BoardLog *log)
    : HeadlessWindow(port, setup.firmwarePath, setup.linesToSend),
      m_setup(std::move(setup)), m_control(control), m_observer(observer), m_log(log)
{
}

void SlotWindow::setStatus(const QString &text)
{
    noteStatus(text);
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

void SlotWindow::progressed(int sent, int total)
{
    m_observer.progress(m_setup.slot, sent, total);
}

// Ctrl-C stops everything at the next checkpoint; the end of the run stops
// only the slots that are still waiting, so no board is left half flashed.
bool SlotWindow::cancelRequested() const
{
    return m_control.cancelled() || (m_control.finishing() && !m_boardStarted)
        || (!m_boardStarted && m_setup.stale && m_setup.stale());
}

bool SlotWindow::askYesNo(const QString &text)
{
    bool answer = m_setup.policy == ErrorPolicy::Continue;
    if (m_control.cancelled()) {
        m_questionCancelled = true;
        answer = false;
    }
    noteQuestion(text, answer, m_questionCancelled ? QStringLiteral("cancelled") : QString());
    return answer;
}

void SlotWindow::bootloaderVersionRead(float version)
{
    m_bootloaderVersion = version;
    HeadlessWindow::bootloaderVersionRead(version);
}

void SlotWindow::note(const QString &text)
{
    if (m_log)
        m_log->note(text);
}

} // namespace quobin::station
