#include "LiveBench.h"

#include "ControllerSimulator.h"
#include "HexRecord.h"
#include "LivePublisher.h"
#include "LiveWriter.h"
#include "PostgresServer.h"
#include "RecordStores.h"
#include "SerialPorts.h"
#include "Station.h"
#include "StationJob.h"
#include "StationObservers.h"

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace quobin::bench {

namespace {

using Steady = std::chrono::steady_clock;
using quobin::sim::ControllerSimulator;
using quobin::sim::SimulatorConfig;

constexpr int kSlots = 8;
constexpr int kBoards = 4;
constexpr int kRecords = 1000;
constexpr int kSwapMsecs = 500;

// A front end that shows nothing: the station's own cost alone.
class QuietObserver : public station::StationObserver {
public:
    void boardStarted(int) override {}
    void slotStatus(int, station::SlotState, const QString &) override {}
    void progress(int, int, int) override {}
    void recorded(int, const records::BoardRecord &, const station::StationCounts &) override {}
    void warning(const QString &text) override { std::printf("   warning: %s\n", qPrintable(text)); }
};

struct Run {
    double boardsPerHour = 0;
    int passed = 0;
    int writes = 0;
};

// A sink that counts what goes through it.
class CountingSink : public records::LiveSink {
public:
    explicit CountingSink(records::LiveSink &inner) : m_inner(inner) {}
    void write(const records::LiveSnapshot &snapshot) override
    {
        m_inner.write(snapshot);
        ++writes;
    }
    QString describe() const override { return m_inner.describe(); }
    std::atomic<int> writes{0};

private:
    records::LiveSink &m_inner;
};

Run runStation(const QString &firmware, const QString &recordsTarget, records::LiveSink *live)
{
    std::vector<std::unique_ptr<ControllerSimulator>> sims;
    station::StationSetup setup;
    QStringList names;
    for (int i = 0; i < kSlots; ++i) {
        SimulatorConfig config;
        config.version = "1.28";
        config.caretDelayMs = 300;
        config.paced = true;
        config.stayAwake = false;
        config.fixture.enabled = true;
        config.fixture.gapMs = kSwapMsecs;
        config.fixture.boards = kBoards;
        sims.push_back(std::make_unique<ControllerSimulator>(config));
        setup.slotAddresses.append({QStringLiteral("Com %1").arg(i + 1), sims.back()->slavePath()});
        names << setup.slotAddresses.last().label;
    }
    setup.goodBoards = kSlots * kBoards;
    setup.stationName = QStringLiteral("bench");
    setup.quobinVersion = QStringLiteral("bench");
    const station::StationJob job = station::StationJob::read(firmware);
    const std::unique_ptr<records::RecordStore> store = records::openRecordStore(recordsTarget);
    QuietObserver quiet;
    std::unique_ptr<CountingSink> counting;
    std::unique_ptr<station::LivePublisher> publisher;
    if (live) {
        counting = std::make_unique<CountingSink>(*live);
        publisher = std::make_unique<station::LivePublisher>(
            *counting, station::LiveRun{setup.stationName, names, {}, {}, job.fileName()},
            [&quiet](const QString &text) { quiet.warning(text); });
    }
    station::StationObservers observers({&quiet, publisher.get()});
    station::Station station(setup, job, *store, observers,
                             [](const QString &device) { return makeSerialPortOn(device); });
    const auto started = Steady::now();
    station.run([] { return false; });
    const double seconds = std::chrono::duration<double>(Steady::now() - started).count();
    if (publisher)
        publisher->finish();
    Run run;
    run.passed = station.counts().passed;
    run.boardsPerHour = 3600.0 * run.passed / seconds;
    run.writes = counting ? counting->writes.load() : 0;
    return run;
}

// Runs without and with publishing in turns, so that the machine's own
// drift (other work, the disk) falls on both alike; the two runs without
// show how far the machine alone moves the figure.
void compare(const char *where, const QString &firmware, const QString &target, records::LiveSink &sink)
{
    constexpr int kRounds = 2;
    double without = 0, with = 0;
    int writes = 0, passed = 0;
    std::vector<double> plain;
    for (int round = 0; round < kRounds; ++round) {
        const Run a = runStation(firmware, target, nullptr);
        const Run b = runStation(firmware, target, &sink);
        plain.push_back(a.boardsPerHour);
        without += a.boardsPerHour / kRounds;
        with += b.boardsPerHour / kRounds;
        writes += b.writes;
        passed += b.passed;
    }
    const double ratio = without > 0 ? with / without : 0;
    std::printf("   %s: without %.0f boards per hour (runs: %.0f, %.0f), with %.0f per hour, %d writes of the live"
                " view\n",
                where, without, plain[0], plain[1], with, writes);
    std::printf("   ratio: %.3f   goal: within 1 %% (at least 0.990)  -> %s\n", ratio,
                ratio >= 0.99 && passed == kRounds * kSlots * kBoards ? "met" : "MISSED");
}

} // namespace

void benchLivePublishing()
{
    std::printf("\n7. The live view: %d paced slots at 57600 baud, %d boards each of %d records, in process,"
                " with and without publishing\n",
                kSlots, kBoards, kRecords);
    QTemporaryDir folder;
    const QString firmware = folder.filePath(QStringLiteral("live.hex"));
    QFile file(firmware);
    if (!file.open(QIODevice::WriteOnly) || file.write(sim::HexRecord::sampleImage(kRecords)) < 0)
        throw std::runtime_error("cannot write the firmware file");
    file.close();
    qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toLocal8Bit());

    const QString sqlite = folder.filePath(QStringLiteral("records.sqlite"));
    {
        records::LiveWriter writer(sqlite);
        compare("SQLite file", firmware, sqlite, writer);
    }

    testing::PostgresServer server;
    if (!server.start() || !server.createDatabase(QStringLiteral("line"))) {
        std::printf("   PostgreSQL: skipped (%s)\n", qPrintable(server.problem()));
        return;
    }
    const QString url = server.socketUrl(QStringLiteral("line"));
    records::LiveWriter writer(records::ServerTarget::parse(url));
    compare("PostgreSQL server", firmware, url, writer);
}

} // namespace quobin::bench
