#pragma once

#include "StationObserver.h"
#include "UploadWindow.h"

#include <QDateTime>
#include <QElapsedTimer>
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
class SlotWindow : public UploadWindow {
public:
    struct Setup {
        int slot = 0;
        QString firmwarePath;
        int linesToSend = 0;
        ErrorPolicy policy = ErrorPolicy::Stop;
    };

    SlotWindow(Setup setup, SerialPort &port, RunControl &control, StationObserver &observer,
               BoardLog *log);

    // A board said "^" during this upload, and when.
    bool boardStarted() const { return m_boardStarted; }
    QDateTime startedAt() const { return m_startedAt; }
    float bootloaderVersion() const { return m_bootloaderVersion; }
    // A question was answered No because the run was being cancelled.
    bool questionCancelled() const { return m_questionCancelled; }

    QString firmwarePath() const override { return m_setup.firmwarePath; }
    // The slot's port opens the device it resolved, whatever the number.
    int comPortPosition() const override { return 0; }
    void setStatus(const QString &text) override;
    void setCountText(const QString &) override {}
    void showCount() override {}
    void setCountRefreshRunning(bool) override {}
    void setLinesRemaining(qint16 lines) override;
    void setTotalLines(qint16 lines) override;
    void SetBusyState() override {}
    void SetIdleState() override {}
    void focusBrowse() override {}
    bool cancelRequested() const override;
    void letEventsRun(int maxBlockMsecs) override;
    void showPlainBox(const QString &text) override;
    void showWarningBox(const QString &text) override;
    bool askYesNo(const QString &text) override;
    void bootloaderVersionRead(float version) override;
    void lineResent(int lineNumber, int send) override;
    void staleAnswerDropped(int lineNumber, const QByteArray &bytes) override;

private:
    void reportProgress(bool force);
    void note(const QString &text);

    const Setup m_setup;
    SerialPort &m_port;
    RunControl &m_control;
    StationObserver &m_observer;
    BoardLog *m_log;

    bool m_waitShown = false;
    bool m_boardStarted = false;
    QDateTime m_startedAt;
    float m_bootloaderVersion = 0;
    bool m_questionCancelled = false;
    qint16 m_totalLines = 0;
    qint16 m_linesRemaining = 0;
    bool m_counting = false;
    int m_lastSent = -1;
    QElapsedTimer m_sinceProgress;
};

} // namespace quobin::station
