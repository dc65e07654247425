// The pool a station's slots take their serial numbers from, over a counter
// that can be made unreachable, and the counters themselves in a real SQLite
// file: the spend rule, reservations while the server is away, the end of a
// series, numbers given back.

#include "RecordStore.h"
#include "SerialPool.h"
#include "SqliteSerialCounter.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <set>
#include <thread>

using namespace quobin::records;

namespace {

// A counter that a test can take away, as a server that stops.
class SwitchedCounter : public SerialCounter {
public:
    explicit SwitchedCounter(SerialCounter &real) : m_real(real) {}
    QList<quint64> take(int count) override
    {
        ++calls;
        if (away)
            throw RecordStoreError(QStringLiteral("Cannot reach the records server: it is away"));
        return m_real.take(count);
    }
    void giveBack(const QList<quint64> &numbers) override
    {
        if (away)
            throw RecordStoreError(QStringLiteral("away"));
        m_real.giveBack(numbers);
    }
    bool remote() const override { return true; }
    std::atomic<bool> away = false;
    std::atomic<int> calls = 0;

private:
    SerialCounter &m_real;
};

} // namespace

class SerialPoolTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    int m_files = 0;
    QString freshFile() { return m_folder.filePath(QStringLiteral("r%1.sqlite").arg(++m_files)); }

private slots:
    // A failed board's number is the next board's; a passed one is spent;
    // a number is never handed out twice, across pools on the same file.
    void theSpendRule()
    {
        const SeriesRule rule{QStringLiteral("pump"), 100, 1, 0xFFFF};
        const QString file = freshFile();
        SqliteSerialCounter counter(file, rule);
        SerialPool pool(counter, rule, {1, 0});
        pool.prepare();
        QCOMPARE(pool.next(), std::optional<quint64>(100));
        const auto first = pool.take();
        QCOMPARE(first.number, std::optional<quint64>(100));
        pool.failed(100);
        QCOMPARE(pool.take().number, std::optional<quint64>(100));
        pool.passed(100);
        QCOMPARE(pool.take().number, std::optional<quint64>(101));
        pool.passed(101);

        // Another station on the same file never gets 100 or 101.
        SqliteSerialCounter other(file, rule);
        SerialPool second(other, rule, {1, 0});
        second.prepare();
        QCOMPARE(second.take().number, std::optional<quint64>(102));
    }

    // Eight slots at once on one pool and two pools on one file: every
    // number taken is different.
    void concurrentTakesNeverCollide()
    {
        const SeriesRule rule{QStringLiteral("gang"), 1, 3, 1000000};
        const QString file = freshFile();
        SqliteSerialCounter counterA(file, rule);
        SqliteSerialCounter counterB(file, rule);
        SerialPool a(counterA, rule, {1, 0});
        SerialPool b(counterB, rule, {5, 2});
        a.prepare();
        b.prepare();
        std::mutex mutex;
        std::multiset<quint64> taken;
        std::set<QString> problems;
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                SerialPool &pool = t % 2 ? a : b;
                for (int i = 0; i < 25; ++i) {
                    const auto take = pool.take();
                    if (!take.number) {
                        std::lock_guard lock(mutex);
                        problems.insert(take.problem);
                        continue;
                    }
                    pool.passed(*take.number);
                    std::lock_guard lock(mutex);
                    taken.insert(*take.number);
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QVERIFY2(problems.empty(), problems.empty() ? "" : qPrintable(*problems.begin()));
        QCOMPARE(int(taken.size()), 200);
        QCOMPARE(int(std::set<quint64>(taken.begin(), taken.end()).size()), 200);
        for (quint64 number : taken)
            QCOMPARE(number % 3, quint64(1));
    }

    // While the counter is away, the pool hands out what it reserved, then
    // says so and hands out nothing; back, it goes on with new numbers.
    void reservedNumbersCarryARunThroughAnOutage()
    {
        const SeriesRule rule{QStringLiteral("line"), 1, 1, 1000000};
        SqliteSerialCounter real(freshFile(), rule);
        SwitchedCounter counter(real);
        SerialPool pool(counter, rule, {20, 10});
        pool.prepare();
        QCOMPARE(pool.inHand(), 20);
        counter.away = true;
        std::set<quint64> given;
        for (int i = 0; i < 20; ++i) {
            const auto take = pool.take();
            QVERIFY2(take.number.has_value(), qPrintable(take.problem));
            given.insert(*take.number);
            pool.passed(*take.number);
        }
        const auto none = pool.take();
        QVERIFY(!none.number);
        QVERIFY(!none.runOut);
        QCOMPARE(none.problem, QStringLiteral("no serial numbers: the records server is away"));
        QCOMPARE(pool.take().number, std::nullopt);

        counter.away = false;
        const auto back = pool.take();
        QVERIFY(back.number.has_value());
        QVERIFY(!given.count(*back.number));
        QCOMPARE(*back.number, quint64(21));
    }

    // The series' last number is handed out, then the pool says the series
    // has ended; a board that fails with the last number gives it back.
    void aSeriesEndsWithoutWrapping()
    {
        // 1 byte from 250 by 2: the last is 254 (the station works it out
        // from the format).
        const SeriesRule rule{QStringLiteral("tiny"), 250, 2, 254};
        SqliteSerialCounter counter(freshFile(), rule);
        SerialPool pool(counter, rule, {1, 0});
        pool.prepare();
        QList<quint64> got;
        for (int i = 0; i < 3; ++i) {
            const auto take = pool.take();
            QVERIFY(take.number);
            got << *take.number;
            if (i < 2)
                pool.passed(*take.number);
        }
        QCOMPARE(got, QList<quint64>({250, 252, 254}));
        // 254 is out on a board: the next board waits for it.
        auto wait = pool.take();
        QVERIFY(!wait.number && !wait.runOut);
        pool.failed(254);
        QCOMPARE(pool.take().number, std::optional<quint64>(254));
        pool.passed(254);
        const auto end = pool.take();
        QVERIFY(!end.number);
        QVERIFY(end.runOut);
        QCOMPARE(end.problem, QStringLiteral("series tiny has no serial number left: 254 is its last"));
    }

    // Numbers given back belong to the rule of the run that takes them:
    // one below FIRST, off the step or past the last stays where it is and
    // is not handed out; the counter moves up to the rule's next number.
    void givenBackNumbersFollowTheSeriesRule()
    {
        const QString file = freshFile();
        {
            SqliteSerialCounter first(file, {QStringLiteral("pump"), 1, 1, 4294967295});
            QCOMPARE(first.take(3), QList<quint64>({1, 2, 3}));
            first.giveBack({1, 2, 3, 4000000001});
        }
        // A new FIRST on 2 bytes: the numbers below it, and the one past
        // its last, wait.
        SqliteSerialCounter later(file, {QStringLiteral("pump"), 1000, 1, 65535});
        QCOMPARE(later.take(2), QList<quint64>({1000, 1001}));
        // Counted by 2 from 2: of the numbers given back, 2 only.
        SqliteSerialCounter even(file, {QStringLiteral("pump"), 2, 2, 65534});
        QCOMPARE(even.take(2), QList<quint64>({2, 1002}));
        SqliteSerialCounter narrow(file, {QStringLiteral("pump"), 1, 1, 65535});
        QCOMPARE(narrow.take(3), QList<quint64>({1, 3, 1004}));
        // 4 bytes: the number that waited all along.
        SqliteSerialCounter wide(file, {QStringLiteral("pump"), 1, 1, 4294967295});
        QCOMPARE(wide.take(2), QList<quint64>({4000000001, 1005}));
    }

    // The numbers up to 2^63 - 1, the largest the records keep, are all
    // handed out, the last with them; then the series has ended, and stays so.
    void theLargestNumbersAreHandedOut()
    {
        const quint64 largest = 9223372036854775807ull;
        const QString file = freshFile();
        const SeriesRule rule{QStringLiteral("big"), largest - 2, 1, largest};
        SqliteSerialCounter counter(file, rule);
        QCOMPARE(counter.take(5), QList<quint64>({largest - 2, largest - 1, largest}));
        QCOMPARE(counter.take(1), QList<quint64>());
        SqliteSerialCounter again(file, rule);
        QCOMPARE(again.take(1), QList<quint64>());
        // By a step that reaches past them: the last is the rule's own.
        const SeriesRule stepped{QStringLiteral("stepped"), largest - 10, 4, largest - 2};
        SqliteSerialCounter byFour(file, stepped);
        QCOMPARE(byFour.take(5), QList<quint64>({largest - 10, largest - 6, largest - 2}));
        QCOMPARE(byFour.take(1), QList<quint64>());
    }

    // Numbers held when a run ends go back, and the next run starts with
    // the lowest of them.
    void unusedNumbersGoBack()
    {
        const SeriesRule rule{QStringLiteral("back"), 1, 1, 1000};
        const QString file = freshFile();
        {
            SqliteSerialCounter counter(file, rule);
            SerialPool pool(counter, rule, {5, 0});
            pool.prepare();
            pool.passed(*pool.take().number); // 1
            const quint64 two = *pool.take().number;
            pool.failed(two);
            pool.finish();
            QCOMPARE(pool.inHand(), 0);
        }
        SqliteSerialCounter counter(file, rule);
        SerialPool pool(counter, rule, {1, 0});
        pool.prepare();
        QList<quint64> next;
        for (int i = 0; i < 5; ++i) {
            const auto take = pool.take();
            next << *take.number;
            pool.passed(*take.number);
        }
        QCOMPARE(next, QList<quint64>({2, 3, 4, 5, 6}));
    }
};

QTEST_GUILESS_MAIN(SerialPoolTest)
#include "tst_serial_pool.moc"
