#pragma once

#include "UploadWindow.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace quobin::testing {

// The window as the upload sees it, without widgets: it records what the
// upload shows and scripts the operator's answers.
class RecordingWindow : public UploadWindow {
public:
    QString path = QStringLiteral("firmware.hex");
    int comPosition = 0;

    bool busy = false;
    bool cancel = false;
    bool countShown = false;
    bool countRefreshRunning = false;
    bool browseFocused = false;
    QString status = QStringLiteral("Idle");
    QString countText;
    qint16 linesRemaining = 0;
    qint16 totalLines = 0;

    QStringList statuses;           // every status text, in order
    QStringList boxes;              // "plain: text", "warning: text", "ask: text"
    QList<bool> answers;            // scripted Yes/No answers, first first; Yes when none left
    QStringList staleDrops;         // "line n: bytes" for every stale answer dropped
    QStringList calls;              // busy/idle transitions and count operations
    int eventRuns = 0;
    int lastBlockMsecs = 0;         // what the latest letEventsRun was allowed to block
    // Called whenever the upload lets events run: the operator's hand.
    std::function<void(RecordingWindow &)> onEvents;

    QString firmwarePath() const override { return path; }
    int comPortPosition() const override { return comPosition; }
    void setStatus(const QString &text) override
    {
        status = text;
        statuses << text;
    }
    void setCountText(const QString &text) override { countText = text; }
    void showCount() override { countShown = true; }
    void setCountRefreshRunning(bool running) override { countRefreshRunning = running; }
    void setLinesRemaining(qint16 lines) override { linesRemaining = lines; }
    void setTotalLines(qint16 lines) override { totalLines = lines; }
    void SetBusyState() override
    {
        busy = true;
        cancel = false;
        status.clear();
        calls << QStringLiteral("busy");
    }
    void SetIdleState() override
    {
        busy = false;
        countShown = false;
        countText.clear();
        status = QStringLiteral("Idle");
        calls << QStringLiteral("idle");
    }
    void focusBrowse() override { browseFocused = true; }
    bool cancelRequested() const override { return cancel; }
    void letEventsRun(int maxBlockMsecs) override
    {
        ++eventRuns;
        lastBlockMsecs = maxBlockMsecs;
        if (onEvents)
            onEvents(*this);
        if (maxBlockMsecs <= 0) {
            QCoreApplication::processEvents();
            return;
        }
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        wake.start(maxBlockMsecs);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    void showPlainBox(const QString &text) override { boxes << QStringLiteral("plain: ") + text; }
    void showWarningBox(const QString &text) override { boxes << QStringLiteral("warning: ") + text; }
    void staleAnswerDropped(int lineNumber, const QByteArray &bytes) override
    {
        staleDrops << QStringLiteral("line %1: %2").arg(lineNumber).arg(QString::fromLatin1(bytes));
    }
    bool askYesNo(const QString &text) override
    {
        boxes << QStringLiteral("ask: ") + text;
        return answers.isEmpty() ? true : answers.takeFirst();
    }
};

} // namespace quobin::testing
