#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace quobin {

// The main window as the upload procedure sees it. The upload knows nothing
// of widgets: the window implements this, and tests give it a recording fake.
class UploadWindow {
public:
    virtual ~UploadWindow() = default;

    // The firmware file path in the path box.
    virtual QString firmwarePath() const = 0;
    // The list position of the COM port list; -1 when nothing is selected.
    virtual int comPortPosition() const = 0;

    // The status line.
    virtual void setStatus(const QString &text) = 0;
    // The lines-remaining count beside the status line, and its refresh timer.
    virtual void setCountText(const QString &text) = 0;
    virtual void showCount() = 0;
    virtual void setCountRefreshRunning(bool running) = 0;
    // The window-level counters that the count refresh shows.
    virtual void setLinesRemaining(qint16 lines) = 0;
    virtual void setTotalLines(qint16 lines) = 0;

    virtual void SetBusyState() = 0;
    virtual void SetIdleState() = 0;
    virtual void focusBrowse() = 0;
    virtual bool cancelRequested() const = 0;

    // Lets pending window events run. When maxBlockMsecs is above 0 and no
    // event is pending, it may block that long for one to arrive (an
    // arriving serial byte counts as one).
    virtual void letEventsRun(int maxBlockMsecs = 0) = 0;

    // Modal boxes titled with the window's caption, waiting for the operator.
    virtual void showPlainBox(const QString &text) = 0;
    virtual void showWarningBox(const QString &text) = 0;
    // Yes and No buttons, Yes the default; true for Yes.
    virtual bool askYesNo(const QString &text) = 0;

    // What the upload learns on the way, for windows that keep a record; the
    // main window shows none of it.
    virtual void bootloaderVersionRead(float version) { Q_UNUSED(version); }
    // Line n (numbered as in the questions) is sent again, for the send-th time.
    virtual void lineResent(int lineNumber, int send) { Q_UNUSED(lineNumber); Q_UNUSED(send); }
    // Bytes holding answers that came after line n had been judged were
    // dropped before the next line was sent (n is 0 before the first line).
    virtual void staleAnswerDropped(int lineNumber, const QByteArray &bytes)
    {
        Q_UNUSED(lineNumber);
        Q_UNUSED(bytes);
    }
};

} // namespace quobin
