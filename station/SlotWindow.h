#pragma once

#include "StationObserver.h"
#include "HeadlessWindow.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace quobin {
class SerialPort;
}

namespace quobin::station {

class BoardLog;
class RunControl;

// How a station answers the y/N questions about a failing line.
enum class ErrorPolicy { Stop, Continue };

// The engine's window for one board on a slot. Status texts become the
// slot's state, the count becomes progress, questions follow the policy and
// are never put to anyone, and letting events run blocks on the port alone.
// It also notices when the board begins: the first status after the wait for
// "^" means the bootloader has answered.
class SlotWindow : public HeadlessWindow {
public:
    struct Setup {
        int slot = 0;
        QString firmwarePath;
        int linesToSend = 0;
        ErrorPolicy policy = ErrorPolicy::Stop;
        // True when the wait for a board should end because the board
        // would be flashed from what is no longer current; none: never.
        std::function<bool()> stale;
    };

    SlotWindow(Setup setup, SerialPort &port, RunControl &control, StationObserver &observer,
               BoardLog *log);

    // A board said "^" during this upload, and when.
    bool boardStarted() const { return m_boardStarted; }
    QDateTime startedAt() const { return m_startedAt; }
    float bootloaderVersion() const { return m_bootloaderVersion; }
    // A question was answered No because the run was being cancelled.
    bool questionCancelled() const { return m_questionCancelled; }

    void setStatus(const QString &text) override;
    bool cancelRequested() const override;
    bool askYesNo(const QString &text) override;
    void bootloaderVersionRead(float version) override;

protected:
    void progressed(int sent, int total) override;
    void note(const QString &text) override;

private:
    const Setup m_setup;
    RunControl &m_control;
    StationObserver &m_observer;
    BoardLog *m_log;

    bool m_waitShown = false;
    bool m_boardStarted = false;
    QDateTime m_startedAt;
    float m_bootloaderVersion = 0;
    bool m_questionCancelled = false;
};

} // namespace quobin::station
