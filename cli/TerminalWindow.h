#pragma once

#include "QuestionDesk.h"
#include "UploadWindow.h"

#include <QElapsedTimer>
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
// Ctrl-C/SIGTERM flag.
class TerminalWindow : public UploadWindow {
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

    QString firmwarePath() const override { return m_setup.firmwarePath; }
    // The port factory of this window's port ignores the number and opens
    // the device the command line resolved; "Com 1" keeps the engine happy.
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
    void log(const QString &text);

    const Setup m_setup;
    SerialPort &m_port;
    Printer &m_printer;
    QuestionDesk &m_desk;
    UploadLog *m_log;

    qint16 m_totalLines = 0;
    qint16 m_linesRemaining = 0;
    bool m_counting = false;
    int m_lastSent = -1;
    QElapsedTimer m_sinceProgress;
    bool m_questionCancelled = false;
};

} // namespace quobin::cli
