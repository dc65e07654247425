#include "FirmwareImage.h"
#include "RecordKeeper.h"
#include "RecordSamples.h"
#include "RecordStore.h"
#include "ScriptedPort.h"
#include "SerialError.h"
#include "Station.h"
#include "StationJob.h"

#include <QSet>
#include <QTest>

#include <atomic>
#include <memory>
#include <mutex>

using namespace quobin;
using namespace quobin::station;
using quobin::testing::ScriptedPort;

namespace {

const QByteArray kImage = ":0300300002337A1E\r\n:00000001FF\r\n";

// One event log for the store and the observer, so that their order shows.
struct EventLog {
    std::mutex mutex;
    QStringList events;
    void add(const QString &event)
    {
        std::lock_guard lock(mutex);
        events << event;
    }
    QStringList all()
    {
        std::lock_guard lock(mutex);
        return events;
    }
};

class LoggingStore : public records::RecordStore {
public:
    explicit LoggingStore(EventLog &log) : m_log(log) {}
    // The commits that fail, counted from 1.
    QSet<int> failingCommits;
    // The file whose side file keeps refused records; none when empty.
    QString local;

    void commit(const records::BoardRecord &record) override
    {
        if (failingCommits.contains(++m_commits))
            throw records::RecordStoreError(QStringLiteral("disk full"));
        m_log.add(QStringLiteral("commit %1 %2").arg(record.slot, record.result));
    }
    QList<records::BoardRecord> read(const QDateTime &) override { return {}; }
    QString describe() const override { return QStringLiteral("/records.sqlite"); }
    QString localFile() const override { return local; }

private:
    EventLog &m_log;
    std::atomic<int> m_commits{0};
};

class LoggingObserver : public StationObserver {
public:
    explicit LoggingObserver(EventLog &log) : m_log(log) {}
    void boardStarted(int slot) override { m_log.add(QStringLiteral("start %1").arg(slot)); }
    void slotStatus(int slot, SlotState state, const QString &text) override
    {
        if (state == SlotState::Passed || state == SlotState::Failed || state == SlotState::Stopped
            || state == SlotState::NoAdapter || state == SlotState::PortTrouble || state == SlotState::Unsaved)
            m_log.add(QStringLiteral("show %1 %2").arg(slot).arg(text));
    }
    void progress(int, int, int) override {}
    void recorded(int slot, const records::BoardRecord &record, const StationCounts &) override
    {
        m_log.add(QStringLiteral("recorded %1 %2").arg(slot).arg(record.result));
    }
    void warning(const QString &text) override { m_log.add(QStringLiteral("warning ") + text); }

private:
    EventLog &m_log;
};

// A controller behind each port that the factory opens: the boards it has
// left say "^" once the bootloader's port is open and emptied, answer the
// ready request and every line.
class Bench {
public:
    explicit Bench(int boards) : m_boards(boards) {}

    PortFactory factory()
    {
        return [this](const QString &device) -> std::unique_ptr<SerialPort> {
            auto port = std::make_unique<ScriptedPort>();
            if (refuseOpen)
                port->failOn = QStringLiteral("open");
            const bool boardSlot = device.endsWith(QLatin1String("board"));
            ScriptedPort *raw = port.get();
            raw->onPoll = [this, boardSlot, device, caretSent = false](ScriptedPort &p) mutable {
                // A device that has gone fails the next look, as a pulled adapter does.
                if (!QFile::exists(device) || hangUp)
                    throw SerialError("the device has gone");
                // "^" after the port is open for the bootloader and emptied.
                if (!caretSent && boardSlot && p.open && p.inputCalls > 0 && p.log.contains("Settings=57600,n,8,1")
                    && takeBoard()) {
                    caretSent = true;
                    p.waiting += '^';
                }
            };
            raw->onOutput = [this](ScriptedPort &p, const QByteArray &bytes) {
                if (bytes.contains("4*730562"))
                    ++mainCodeCommands;
                if (bytes == "@&$")
                    p.waiting += "?V1.28";
                else if (bytes.startsWith(':'))
                    p.waiting += bytes == ":00000001FF" ? "@" : "~";
            };
            return port;
        };
    }

    std::atomic<int> mainCodeCommands{0};
    std::atomic<bool> refuseOpen{false}; // every port refuses to open, as without permission
    std::atomic<bool> hangUp{false};     // open ports hang up, their device node still there

private:
    bool takeBoard()
    {
        int left = m_boards.load();
        while (left > 0 && !m_boards.compare_exchange_weak(left, left - 1)) {
        }
        return left > 0;
    }
    std::atomic<int> m_boards;
};

} // namespace

// The station's engine on scripted ports: what it records, in which order,
// and how a run ends.
class StationEngineTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    StationJob m_job{FirmwareImage::fromBytes(kImage, m_folder.filePath(QStringLiteral("image.hex")))};

    QString devicePath(const QString &name)
    {
        const QString path = m_folder.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        return path;
    }

private slots:
    // Three good boards end the run; each board's record is committed
    // before its slot shows the result; the slot that never saw a board
    // stops without a record; the main-code command went out once.
    void theCountEndsTheRunAndRecordsComeBeforeResults()
    {
        EventLog log;
        LoggingStore store(log);
        LoggingObserver observer(log);
        Bench bench(3);
        StationSetup setup;
        setup.slotAddresses = {{QStringLiteral("A"), devicePath(QStringLiteral("a-board"))},
                           {QStringLiteral("B"), devicePath(QStringLiteral("b-empty"))}};
        setup.goodBoards = 3;
        Station station(setup, m_job, store, observer, bench.factory());
        QCOMPARE(station.run([] { return false; }), Station::End::CountReached);

        const QStringList events = log.all();
        QCOMPARE(events.filter(QStringLiteral("commit")).size(), 3);
        for (int i = 0; i < events.size(); ++i) {
            if (!events[i].startsWith(QLatin1String("show 0 PASS")))
                continue;
            QVERIFY2(i >= 2 && events[i - 1] == QLatin1String("recorded 0 success")
                         && events[i - 2] == QLatin1String("commit A success"),
                     qPrintable(events.join(QLatin1Char('\n'))));
        }
        QVERIFY(events.contains(QStringLiteral("show 1 stopped")));
        QVERIFY(events.filter(QStringLiteral("commit B")).isEmpty());
        QCOMPARE(station.counts().passed, 3);
        QCOMPARE(bench.mainCodeCommands.load(), 2); // each slot once, at its start
    }

    // A record that the store refuses (twice) is held in the side file and
    // tried again: the slot says "record not saved yet", shows the board's
    // result only once the record is in, and starts no board meanwhile; the
    // run goes on to its count, and the side file goes once it is empty.
    void aRefusedRecordIsRetriedBeforeTheNextBoard()
    {
        EventLog log;
        LoggingStore store(log);
        store.failingCommits = {2, 3};
        store.local = m_folder.filePath(QStringLiteral("retried.sqlite"));
        LoggingObserver observer(log);
        Bench bench(5);
        StationSetup setup;
        setup.slotAddresses = {{QStringLiteral("A"), devicePath(QStringLiteral("a-board"))}};
        setup.goodBoards = 3;
        Station station(setup, m_job, store, observer, bench.factory());
        QCOMPARE(station.run([] { return false; }), Station::End::CountReached);

        QStringList events = log.all();
        QVERIFY2(events.filter(QStringLiteral("warning A: record not saved yet (kept in ")).size() == 1,
                 qPrintable(events.join(QLatin1Char('\n'))));
        events.removeIf([](const QString &event) { return event.startsWith(QLatin1String("warning")); });
        const qsizetype unsaved = events.indexOf(QStringLiteral("show 0 record not saved yet"));
        QVERIFY2(unsaved > 0, qPrintable(events.join(QLatin1Char('\n'))));
        // Next after the notice: the retried commit, then the result; no
        // board started in between.
        QCOMPARE(events.mid(unsaved + 1, 3),
                 QStringList({"commit A success", "recorded 0 success", "show 0 PASS"}));
        QCOMPARE(events.filter(QStringLiteral("commit A success")).size(), 3);
        QCOMPARE(station.counts().passed, 3);
        QVERIFY(station.unsavedRecords().isEmpty());
        QVERIFY(!QFile::exists(station.sideFile()));
    }

    // A record refused by the store goes into the side file; a keeper of
    // the next run (the process that wrote it is gone) loads it back with
    // every member as it was, the numbers past 2^53 included, and commits
    // exactly that record.
    void theSideFileKeepsEveryFieldOfARecord()
    {
        EventLog log;
        LoggingStore refusing(log);
        const QString sideFile = RecordKeeper::sideFileFor(m_folder.filePath(QStringLiteral("side.sqlite")));
        const QList<records::BoardRecord> kept{testing::everyFieldRecord(3), testing::everyFieldRecord(4)};
        {
            RecordKeeper keeper(refusing, sideFile);
            refusing.failingCommits = {1, 2};
            for (const records::BoardRecord &record : kept)
                QCOMPARE(keeper.keep(record, nullptr), RecordKeeper::Held::SideFile);
        }
        RecordKeeper next(refusing, sideFile);
        QCOMPARE(next.loadLeftOver(), 2);
        QCOMPARE(next.held(), kept);
        QVERIFY(next.retry());
        QVERIFY(!QFile::exists(sideFile));
    }

    // With nowhere to hold a refused record (no side file), the station
    // takes no new board and says why; the record is still retried until the
    // store takes it, and its board counts.
    void aStationThatCanKeepNothingTakesNoNewBoard()
    {
        EventLog log;
        LoggingStore store(log);
        store.failingCommits = {2};
        LoggingObserver observer(log);
        Bench bench(5);
        StationSetup setup;
        setup.slotAddresses = {{QStringLiteral("A"), devicePath(QStringLiteral("a-board"))}};
        Station station(setup, m_job, store, observer, bench.factory());
        QCOMPARE(station.run([] { return false; }), Station::End::Failed);
        QVERIFY2(station.failure().contains(QLatin1String("/records.sqlite"))
                     && station.failure().contains(QLatin1String("disk full")),
                 qPrintable(station.failure()));
        QCOMPARE(log.all().filter(QStringLiteral("commit A success")).size(), 2);
        QCOMPARE(log.all().filter(QStringLiteral("start 0")).size(), 2);
        QCOMPARE(station.counts().passed, 2);
        QVERIFY(station.unsavedRecords().isEmpty());
    }

    // An adapter pulled out while its slot waits for a board: nothing is
    // recorded, the slot shows "no adapter", and when the device is back
    // the slot starts over with the main-code command.
    void aDeviceThatGoesWhileWaitingIsWaitedFor()
    {
        EventLog log;
        LoggingStore store(log);
        LoggingObserver observer(log);
        Bench bench(0);
        const QString device = devicePath(QStringLiteral("usb-board"));
        StationSetup setup;
        setup.slotAddresses = {{QStringLiteral("A"), device}};
        Station station(setup, m_job, store, observer, bench.factory());
        QElapsedTimer running;
        running.start();
        int step = 0;
        const Station::End end = station.run([&] {
            if (step == 0 && bench.mainCodeCommands == 1 && running.elapsed() > 600) {
                QFile::remove(device);
                step = 1;
            } else if (step == 1 && log.all().contains(QStringLiteral("show 0 no adapter"))) {
                devicePath(QStringLiteral("usb-board"));
                step = 2;
            }
            return step == 2 && bench.mainCodeCommands == 2 && running.elapsed() > 1500;
        });
        QCOMPARE(end, Station::End::Cancelled);
        QCOMPARE(step, 2);
        QCOMPARE(bench.mainCodeCommands.load(), 2);
        QVERIFY(log.all().filter(QStringLiteral("commit")).isEmpty());
    }

    // Devices that are there but cannot be opened: when no slot can be
    // used, the station cannot go on and says why.
    void noUsableSlotEndsTheRun()
    {
        EventLog log;
        LoggingStore store(log);
        LoggingObserver observer(log);
        Bench bench(0);
        bench.refuseOpen = true;
        StationSetup setup;
        setup.slotAddresses = {{QStringLiteral("A"), devicePath(QStringLiteral("a-board"))},
                           {QStringLiteral("B"), devicePath(QStringLiteral("b-board"))}};
        Station station(setup, m_job, store, observer, bench.factory());
        QCOMPARE(station.run([] { return false; }), Station::End::Failed);
        QVERIFY2(station.failure().startsWith(QLatin1String("no slot can be used: ")) && station.failure().contains(QLatin1String("A cannot use"))
                     && station.failure().contains(QLatin1String("B cannot use")),
                 qPrintable(station.failure()));
    }

    // A slot that has worked in this run and then cannot open its device
    // for a while (the node still there as an adapter goes, another program
    // on the port) shows the trouble and tries again; the station goes on.
    void aSlotThatHasWorkedIsNeverTheEndOfTheStation()
    {
        EventLog log;
        LoggingStore store(log);
        LoggingObserver observer(log);
        Bench bench(1);
        StationSetup setup;
        setup.slotAddresses = {{QStringLiteral("A"), devicePath(QStringLiteral("a-board"))}};
        Station station(setup, m_job, store, observer, bench.factory());
        QElapsedTimer troubled;
        const Station::End end = station.run([&] {
            if (!troubled.isValid() && !log.all().filter(QStringLiteral("commit")).isEmpty()) {
                bench.refuseOpen = true;
                bench.hangUp = true;
                troubled.start();
            }
            return troubled.isValid() && troubled.elapsed() > 1500
                   && !log.all().filter(QStringLiteral("cannot use")).isEmpty();
        });
        QCOMPARE(end, Station::End::Cancelled);
        QVERIFY2(station.failure().isEmpty(), qPrintable(station.failure()));
    }

    // A cancel while every slot waits ends the run with no record at all.
    void aCancelWhileWaitingRecordsNothing()
    {
        EventLog log;
        LoggingStore store(log);
        LoggingObserver observer(log);
        Bench bench(0);
        StationSetup setup;
        setup.slotAddresses = {{QStringLiteral("A"), devicePath(QStringLiteral("a-board"))},
                           {QStringLiteral("B"), m_folder.filePath(QStringLiteral("missing"))}};
        Station station(setup, m_job, store, observer, bench.factory());
        QElapsedTimer running;
        running.start();
        QCOMPARE(station.run([&] { return running.elapsed() > 300; }), Station::End::Cancelled);
        QVERIFY(log.all().filter(QStringLiteral("commit")).isEmpty());
        QCOMPARE(station.counts().boards(), 0);
    }
};

QTEST_GUILESS_MAIN(StationEngineTest)
#include "tst_station_engine.moc"
