#include "Clock.h"
#include "FakeClock.h"
#include "ScriptedPort.h"
#include "PollWithDeadline.h"

#include <QElapsedTimer>
#include <QTest>

using namespace quobin;
using namespace quobin::testing;

// The three waits for the controller, on a scripted port and a clock the
// test drives.
class WaitsTest : public QObject {
    Q_OBJECT

private:
    // A clock that moves on one second every `readsPerSecond` readings.
    static void tickEvery(FakeClock &clock, int readsPerSecond)
    {
        clock.onRead = [readsPerSecond](FakeClock &c) {
            if (c.reads % readsPerSecond == 0)
                ++c.seconds;
        };
    }

private slots:
    void firstByteWaitEndsAtTheLimitWhenNothingArrives()
    {
        ScriptedPort port;
        FakeClock clock;
        tickEvery(clock, 5);
        PollWithDeadline waits(port, clock);
        int eventRuns = 0;
        QByteArray response = "kept";
        const qint64 start = clock.now();
        const WaitEnd end = waits.forFirstByte(
            start, 3, response, {[] { return false; }, [&](int) { ++eventRuns; }});
        QCOMPARE(end, WaitEnd::Ended);
        QCOMPARE(clock.seconds - start, 3);
        QCOMPARE(response, QByteArray("kept"));
        QVERIFY(eventRuns > 0);
        QCOMPARE(port.inputCalls, 0);
    }

    void firstByteWaitTakesEverythingWaitingWhenTheFirstByteComes()
    {
        ScriptedPort port;
        FakeClock clock;
        int polls = 0;
        port.onPoll = [&](ScriptedPort &p) {
            if (++polls == 4)
                p.waiting = "x?V1";
        };
        PollWithDeadline waits(port, clock);
        QByteArray response = "a";
        QCOMPARE(waits.forFirstByte(clock.now(), 3, response, {}), WaitEnd::Ended);
        QCOMPARE(response, QByteArray("ax?V1"));
        QVERIFY(port.waiting.isEmpty());
    }

    void firstByteWaitIsAbandonedOnCancel()
    {
        ScriptedPort port;
        FakeClock clock;
        PollWithDeadline waits(port, clock);
        bool cancel = false;
        int eventRuns = 0;
        QByteArray response;
        const WaitEnd end = waits.forFirstByte(
            clock.now(), 3, response,
            {[&] { return cancel; }, [&](int) { cancel = ++eventRuns == 3; }});
        QCOMPARE(end, WaitEnd::Cancelled);
        QCOMPARE(eventRuns, 3);
    }

    void collectingJoinsASplitReplyAndStopsAtTheMarker()
    {
        ScriptedPort port;
        FakeClock clock;
        QList<QByteArray> pieces = {"", "x", "", "y~", "late"};
        port.onPoll = [&](ScriptedPort &p) {
            if (!pieces.isEmpty())
                p.waiting += pieces.takeFirst();
        };
        PollWithDeadline waits(port, clock);
        QByteArray response;
        waits.collectUntilMarker(clock.now(), 3, response, "%~#@-", {});
        QCOMPARE(response, QByteArray("xy~"));
        // What came after the marker stays for the next read.
        QCOMPARE(pieces, QList<QByteArray>{"late"});
    }

    void collectingReadsNothingMoreOnceTheMarkerIsThere()
    {
        ScriptedPort port;
        port.waiting = "more";
        FakeClock clock;
        PollWithDeadline waits(port, clock);
        QByteArray response = "@";
        waits.collectUntilMarker(clock.now(), 3, response, "@", {});
        QCOMPARE(port.inputCalls, 0);
        QCOMPARE(response, QByteArray("@"));
    }

    void collectingEndsAtTheLimitAndOnCancelWithoutAFurtherRead()
    {
        ScriptedPort port;
        FakeClock clock;
        tickEvery(clock, 3);
        PollWithDeadline waits(port, clock);
        QByteArray response;
        const qint64 start = clock.now();
        waits.collectUntilMarker(start, 3, response, "~", {});
        QCOMPARE(clock.seconds - start, 3);

        clock.onRead = nullptr;
        port.inputCalls = 0;
        bool cancel = false;
        waits.collectUntilMarker(clock.now(), 3, response, "~",
                                 {[&] { return cancel; }, [&](int) { cancel = true; }});
        QCOMPARE(port.inputCalls, 1);
    }

    void collectingEvaluatesEveryTestOnEveryPass()
    {
        // The cancel hook is consulted even when the marker test already ends
        // the wait, and the clock is read even when cancel already ends it.
        ScriptedPort port;
        FakeClock clock;
        PollWithDeadline waits(port, clock);
        int cancelChecks = 0;
        QByteArray response = "~";
        const int readsBefore = clock.reads;
        waits.collectUntilMarker(clock.now(), 3, response, "~",
                                 {[&] { ++cancelChecks; return true; }, nullptr});
        QCOMPARE(cancelChecks, 1);
        QCOMPARE(clock.reads - readsBefore, 2);
    }

    void collectingBlocksOnlyWhenTheReadBroughtNothing()
    {
        ScriptedPort port;
        FakeClock clock;
        int polls = 0;
        port.onPoll = [&](ScriptedPort &p) {
            if (++polls == 2)
                p.waiting = "x";
            if (polls == 4)
                p.waiting = "~";
        };
        QList<int> blocks;
        PollWithDeadline waits(port, clock);
        QByteArray response;
        waits.collectUntilMarker(clock.now(), 3, response, "~",
                                 {nullptr, [&](int msecs) { blocks << msecs; }});
        QCOMPARE(blocks, (QList<int>{1, 0, 1, 0}));
    }

    void markerWaitIgnoresEverythingElseAndHasNoLimit()
    {
        ScriptedPort port;
        FakeClock clock;
        tickEvery(clock, 1);
        QList<QByteArray> pieces = {"", "?", "", "", "ab", "c^d"};
        port.onPoll = [&](ScriptedPort &p) {
            if (!pieces.isEmpty())
                p.waiting += pieces.takeFirst();
        };
        PollWithDeadline waits(port, clock);
        QByteArray response;
        int eventRuns = 0;
        QCOMPARE(waits.forMarker('^', response, {[] { return false; }, [&](int) { ++eventRuns; }}),
                 WaitEnd::Ended);
        QVERIFY(response.endsWith("c^d"));
        QCOMPARE(eventRuns, 2);
    }

    // A line that sends noise while the operator has not yet reset the board:
    // 32 MiB in reads small and large keeps no more than the wait's tail,
    // and the read that brings the marker is kept after it.
    void markerWaitKeepsABoundedTailOfNoise()
    {
        ScriptedPort port;
        FakeClock clock;
        // A count of waiting bytes is 16 bits: reads of at most 16 KiB.
        const QByteArray noise(16 * 1024, 'n');
        int reads = 0;
        qsizetype mostKept = 0;
        QByteArray response;
        port.onPoll = [&](ScriptedPort &p) {
            mostKept = qMax(mostKept, response.size());
            if (!p.waiting.isEmpty())
                return;
            ++reads;
            if (reads <= 4096)
                p.waiting = reads % 2 ? noise : noise.left(reads % 7 + 1);
            else if (reads == 4097)
                p.waiting = "ab^cd";
        };
        PollWithDeadline waits(port, clock);
        QCOMPARE(waits.forMarker('^', response, {[] { return false; }, [](int) {}}), WaitEnd::Ended);
        QVERIFY2(mostKept <= PollWithDeadline::kMarkerWaitTail, qPrintable(QString::number(mostKept)));
        QCOMPARE(response.size(), PollWithDeadline::kMarkerWaitTail + 5);
        QVERIFY(response.endsWith("nab^cd"));
    }

    void markerWaitIsAbandonedOnCancel()
    {
        ScriptedPort port;
        FakeClock clock;
        PollWithDeadline waits(port, clock);
        QByteArray response;
        int eventRuns = 0;
        QCOMPARE(waits.forMarker('^', response, {[&] { return eventRuns == 2; }, [&](int) { ++eventRuns; }}),
                 WaitEnd::Cancelled);
    }

    void aWholeSecondLimitLastsBetweenTwoAndThreeRealSeconds()
    {
        ScriptedPort port;
        SteadyClock clock;
        PollWithDeadline waits(port, clock);
        QByteArray response;
        QElapsedTimer timer;
        timer.start();
        waits.forFirstByte(clock.now(), 3, response, {});
        const qint64 lasted = timer.elapsed();
        QVERIFY2(lasted > 1990 && lasted <= 3100, qPrintable(QString::number(lasted)));
    }
};

QTEST_GUILESS_MAIN(WaitsTest)
#include "tst_waits.moc"
