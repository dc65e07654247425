#pragma once

#include "UploadWindow.h"

#include <QElapsedTimer>
#include <QString>

namespace quobin {

class SerialPort;

// The engine's window for a front end that has none: a terminal, a station
// slot. There is no count label, no busy state and no Browse button; the
// count becomes paced progress, letting events run blocks on the port alone
// (so an arriving byte is seen at once and a cancel soon after it is asked),
// and what the engine shows or learns becomes a note for the byte log.
class HeadlessWindow : public UploadWindow {
public:
    // linesToSend: the lines of the file that carry something, the whole
    // that progress counts towards.
    HeadlessWindow(SerialPort &port, QString firmwarePath, int linesToSend);

    QString firmwarePath() const override { return m_firmwarePath; }
    // The port opens the device its front end resolved, whatever the
    // number; "Com 1" keeps the engine happy.
    int comPortPosition() const override { return 0; }

    void setCountText(const QString &) override {}
    void showCount() override {}
    void setCountRefreshRunning(bool) override {}
    void setLinesRemaining(qint16 lines) override;
    void setTotalLines(qint16 lines) override;
    void SetBusyState() override {}
    void SetIdleState() override {}
    void focusBrowse() override {}
    void letEventsRun(int maxBlockMsecs) override;
    void showPlainBox(const QString &text) override;
    void showWarningBox(const QString &text) override;
    void bootloaderVersionRead(float version) override;
    void lineResent(int lineNumber, int send) override;
    void staleAnswerDropped(int lineNumber, const QByteArray &bytes) override;

protected:
    int linesToSend() const { return m_linesToSend; }
    // Lines dealt with so far, out of linesToSend(): at the first line, at
    // the last, and in between at most every tenth of a second.
    virtual void progressed(int sent, int total) = 0;
    // One record for the byte log; texts from outside are already quoted.
    virtual void note(const QString &text) = 0;
    // The record of a question and the answer it got.
    void noteQuestion(const QString &text, bool answer, const QString &why = {});
    // Records a status text.
    void noteStatus(const QString &text);

private:
    void reportProgress(bool force);

    SerialPort &m_port;
    const QString m_firmwarePath;
    const int m_linesToSend;
    qint16 m_totalLines = 0;
    qint16 m_linesRemaining = 0;
    bool m_counting = false;
    int m_lastSent = -1;
    QElapsedTimer m_sinceProgress;
};

} // namespace quobin
