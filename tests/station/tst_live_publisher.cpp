// The live view's publisher on a sink that the test holds: however fast the
// slots move it writes a few times a second, the latest state winning; a
// sink that hangs or fails holds up no slot, is warned of once and once
// more when it takes the rows again; a clean end marks the station stopped.
#include "LivePublisher.h"
#include "LiveSink.h"
#include "RecordStore.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace quobin;
using namespace quobin::station;

namespace {

// Keeps what is written; write() may be made to fail or to hang.
class HeldSink : public records::LiveSink {
public:
    void write(const records::LiveSnapshot &snapshot) override
    {
        std::unique_lock lock(mutex);
        ++attempts;
        changed.wait(lock, [this] { return !hanging; });
        if (failing)
            throw records::RecordStoreError(QStringLiteral("Cannot reach the records server line: refused"));
        snapshots.append(snapshot);
        for (const records::LiveSlot &slot : snapshot.slotRows)
            latest[slot.index] = slot;
        changed.notify_all();
    }
    QString describe() const override { return QStringLiteral("line"); }

    void set(bool hang, bool fail)
    {
        std::lock_guard lock(mutex);
        hanging = hang;
        failing = fail;
        changed.notify_all();
    }
    int written()
    {
        std::lock_guard lock(mutex);
        return int(snapshots.size());
    }
    records::LiveSnapshot last()
    {
        std::lock_guard lock(mutex);
        return snapshots.isEmpty() ? records::LiveSnapshot{} : snapshots.last();
    }
    records::LiveSlot slot(int index)
    {
        std::lock_guard lock(mutex);
        return latest.value(index);
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool hanging = false;
    bool failing = false;
    int attempts = 0;
    QList<records::LiveSnapshot> snapshots;
    QMap<int, records::LiveSlot> latest;
};

struct Warnings {
    std::mutex mutex;
    QStringList texts;
    void add(const QString &text)
    {
        std::lock_guard lock(mutex);
        texts << text;
    }
    QStringList all()
    {
        std::lock_guard lock(mutex);
        return texts;
    }
};

bool waitUntil(const std::function<bool()> &done, int msecs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < msecs)
        QTest::qWait(10);
    return done();
}

LiveRun twoSlots()
{
    return {QStringLiteral("bench-1"), {QStringLiteral("Com 1"), QStringLiteral("Com 2")}, {}, {},
            QStringLiteral("image.hex")};
}

} // namespace

class TestLivePublisher : public QObject {
    Q_OBJECT

private slots:
    // A board's 2,000 lines of progress in a second and its result: a few
    // writes, the last with the result; the result stays while the slot
    // waits for its next board, and the end marks the station stopped.
    void progressIsPacedAndTheLatestStateWins()
    {
        HeldSink sink;
        Warnings warnings;
        LivePublisher publisher(sink, twoSlots(), [&](const QString &text) { warnings.add(text); });
        QVERIFY(waitUntil([&] { return sink.written() == 1; }));
        QCOMPARE(sink.last().slotRows.size(), 2);
        QCOMPARE(sink.last().station.slotCount, 2);

        const int before = sink.written();
        QElapsedTimer timer;
        timer.start();
        publisher.boardStarted(0);
        publisher.slotStatus(0, SlotState::Flashing, QStringLiteral("Sending line 1"));
        for (int line = 1; line <= 2000; ++line) {
            publisher.progress(0, line, 2000);
            if (line % 100 == 0)
                QThread::msleep(50);
        }
        publisher.slotStatus(0, SlotState::Failed, QStringLiteral("FAIL Flash error at line 30."));
        publisher.slotStatus(0, SlotState::Waiting, QStringLiteral("waiting for a board"));
        const double seconds = timer.elapsed() / 1000.0;
        QVERIFY(waitUntil([&] { return sink.slot(0).state == QLatin1String("failed"); }));
        const int writes = sink.written() - before;
        qInfo("%d writes for 2,000 steps of progress in %.2f s", writes, seconds);
        // One write in 250 ms at most, and the one that follows the end.
        QVERIFY2(writes <= int(seconds * 4) + 2, qPrintable(QString::number(writes)));
        QCOMPARE(sink.slot(0).text, QStringLiteral("Flash error at line 30."));
        QVERIFY(!sink.slot(0).percent.has_value());
        QVERIFY(warnings.all().isEmpty());

        publisher.slotStatus(1, SlotState::Stopped, QStringLiteral("stopped"));
        publisher.finish();
        QVERIFY(sink.last().station.stopped);
        QCOMPARE(sink.slot(1).state, QStringLiteral("stopped"));
        QCOMPARE(sink.slot(0).state, QStringLiteral("failed"));
    }

    // The database hangs, then refuses: the slots' calls return at once all
    // the while, the operator is told once, and once more when the rows go
    // through again, with what changed meanwhile.
    void aSinkThatHangsOrFailsHoldsUpNoSlot()
    {
        HeldSink sink;
        Warnings warnings;
        LivePublisher publisher(sink, twoSlots(), [&](const QString &text) { warnings.add(text); },
                                LivePacing{std::chrono::milliseconds(50), std::chrono::milliseconds(200),
                                           std::chrono::milliseconds(100)});
        QVERIFY(waitUntil([&] { return sink.written() >= 1; }));
        sink.set(true, false);
        QTest::qWait(300); // the next heartbeat hangs in the sink
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 10000; ++i)
            publisher.progress(1, i, 10000);
        publisher.slotStatus(1, SlotState::Passed, QStringLiteral("PASS"));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));

        sink.set(false, true);
        QVERIFY(waitUntil([&] { std::lock_guard lock(sink.mutex); return sink.attempts >= 5; }));
        QCOMPARE(warnings.all().size(), 1);
        QVERIFY2(warnings.all().first().contains(QLatin1String("live view is not written")), qPrintable(warnings.all().first()));
        QVERIFY(warnings.all().first().contains(QLatin1String("refused")));

        sink.set(false, false);
        QVERIFY(waitUntil([&] { return warnings.all().size() == 2; }));
        QCOMPARE(warnings.all().last(), QStringLiteral("the live view is written into line again"));
        QVERIFY(waitUntil([&] { return sink.slot(1).state == QLatin1String("passed"); }));
        QTest::qWait(500);
        QCOMPARE(warnings.all().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestLivePublisher)
#include "tst_live_publisher.moc"
