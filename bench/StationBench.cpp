#include "StationBench.h"

#include "ControllerSimulator.h"
#include "HexRecord.h"
#include "RecordStores.h"
#include "SqliteSerialCounter.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace quobin::bench {

namespace {

using Steady = std::chrono::steady_clock;
using quobin::sim::ControllerSimulator;
using quobin::sim::SimulatorConfig;

constexpr int kSlots = 8;
constexpr int kBoardsPerSlot = 10;
constexpr int kRecords = 1000;
// The operator's swap: the next board says "^" this long after the last "@".
constexpr int kSwapMsecs = 500;

double cpuOfChildren()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::vector<std::unique_ptr<ControllerSimulator>> fixtures(int count, bool boards, int boardsPerSlot = kBoardsPerSlot)
{
    std::vector<std::unique_ptr<ControllerSimulator>> list;
    for (int i = 0; i < count; ++i) {
        SimulatorConfig config;
        config.version = "1.28";
        // Without boards the fixture stays empty: the slot only waits.
        config.caretDelayMs = boards ? 300 : -1;
        config.paced = true;
        config.stayAwake = false; // many simulators on few cores sleep
        config.fixture.enabled = boards;
        config.fixture.gapMs = kSwapMsecs;
        config.fixture.boards = boardsPerSlot;
        list.push_back(std::make_unique<ControllerSimulator>(config));
    }
    return list;
}

struct StationFigures {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double flashingSeconds = 0; // the boards' own times, summed
    int passed = 0;
    int exitStatus = -1;
    qint64 peakKiB = 0; // the station's largest resident memory seen (VmHWM)
    // With a settle time: the station's CPU seconds and the wall seconds from
    // the end of the settle time to the Ctrl-C, start-up left out.
    double settledCpuSeconds = 0;
    double settledWallSeconds = 0;
};

// The CPU seconds a running process has used so far (/proc/PID/stat).
double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

// The largest resident memory of the process so far, in KiB; 0 when unknown.
qint64 peakResidentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// One station run over the simulators' devices; ends at count good boards,
// or after stopAfterMsecs with a Ctrl-C when count is 0.
StationFigures runStation(const QString &cli, const QString &firmware, const QString &records,
                          const std::vector<std::unique_ptr<ControllerSimulator>> &sims, int count,
                          int stopAfterMsecs = 0, const QStringList &more = {}, int settleMsecs = 0)
{
    QStringList arguments{QStringLiteral("station"), QStringLiteral("--json"), QStringLiteral("--records"), records};
    arguments << more;
    for (const auto &sim : sims)
        arguments << QStringLiteral("--slot") << sim->slavePath();
    if (count > 0)
        arguments << QStringLiteral("--count") << QString::number(count);
    arguments << firmware;

    StationFigures figures;
    const double cpuBefore = cpuOfChildren();
    const auto started = Steady::now();
    QProcess process;
    process.start(cli, arguments);
    const qint64 pid = process.processId();
    if (stopAfterMsecs > 0) {
        QThread::msleep(settleMsecs);
        const double settledCpu = processCpuSeconds(pid);
        const auto settled = Steady::now();
        QThread::msleep(stopAfterMsecs - settleMsecs);
        figures.settledCpuSeconds = processCpuSeconds(pid) - settledCpu;
        figures.settledWallSeconds = std::chrono::duration<double>(Steady::now() - settled).count();
        figures.peakKiB = peakResidentKiB(pid);
        ::kill(pid_t(pid), SIGINT);
    }
    const auto deadline = Steady::now() + std::chrono::minutes(30);
    while (!process.waitForFinished(250) && Steady::now() < deadline)
        figures.peakKiB = std::max(figures.peakKiB, peakResidentKiB(pid));
    figures.wallSeconds = std::chrono::duration<double>(Steady::now() - started).count();
    figures.cpuSeconds = cpuOfChildren() - cpuBefore;
    figures.exitStatus = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value(QStringLiteral("event")).toString() != QLatin1String("record"))
            continue;
        const QJsonObject record = event.value(QStringLiteral("record")).toObject();
        figures.passed += record.value(QStringLiteral("result")).toString() == QLatin1String("success");
        figures.flashingSeconds += record.value(QStringLiteral("seconds")).toDouble();
    }
    return figures;
}

// Commits records one by one into a fresh SQLite file, as a station does
// after each board, and times each commit.
std::vector<double> commitTimes(const QString &path, int count)
{
    const std::unique_ptr<records::RecordStore> store = records::openRecordStore(path);
    std::vector<double> millis;
    for (int i = 0; i < count; ++i) {
        records::BoardRecord record;
        record.id = QUuid::createUuid();
        record.station = QStringLiteral("bench");
        record.slot = QStringLiteral("Com %1").arg(i % kSlots + 1);
        record.device = QStringLiteral("/dev/ttyUSB%1").arg(i % kSlots);
        record.jobSha256 = QString(64, QLatin1Char('a'));
        record.jobFile = QStringLiteral("station.hex");
        record.started = QDateTime::currentDateTimeUtc();
        record.ended = record.started.addSecs(8);
        record.seconds = 8;
        record.result = QStringLiteral("success");
        record.message = QStringLiteral("Update File successfully uploaded.");
        record.linesSent = kRecords + 1;
        record.quobinVersion = QStringLiteral("3.0");
        const auto started = Steady::now();
        store->commit(record);
        millis.push_back(std::chrono::duration<double, std::milli>(Steady::now() - started).count());
    }
    return millis;
}

// Takes one serial number at a time from a fresh SQLite file's counter, as
// a station without a server does for each board, and times each take (its
// transaction and commit included).
std::vector<double> allocationTimes(const QString &path, int count)
{
    const records::SeriesRule rule{QStringLiteral("bench"), 1, 1, 0xFFFFFFFF};
    records::SqliteSerialCounter counter(path, rule);
    std::vector<double> millis;
    for (int i = 0; i < count; ++i) {
        const auto started = Steady::now();
        if (counter.take(1).size() != 1)
            throw std::runtime_error("the bench series ran out");
        millis.push_back(std::chrono::duration<double, std::milli>(Steady::now() - started).count());
    }
    return millis;
}

} // namespace

void benchStation32()
{
    constexpr int slotCount = 32;
    constexpr int boards = 4;
    std::printf("\n7. quobin-cli station with %d slots: %d paced fixtures at 57600 baud, %d boards each of %d records, "
                "%d ms to swap a board; then one slot alone\n",
                slotCount, slotCount, boards, kRecords, kSwapMsecs);
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/quobin-cli");
    if (!QFile::exists(cli)) {
        std::printf("   %s not built: skipped\n", qPrintable(cli));
        return;
    }
    QTemporaryDir folder;
    const QString firmware = folder.filePath(QStringLiteral("station.hex"));
    QFile file(firmware);
    if (!file.open(QIODevice::WriteOnly) || file.write(sim::HexRecord::sampleImage(kRecords)) < 0)
        throw std::runtime_error("cannot write the firmware file");
    file.close();

    StationFigures all;
    {
        const auto sims = fixtures(slotCount, true, boards);
        all = runStation(cli, firmware, folder.filePath(QStringLiteral("all.sqlite")), sims, slotCount * boards);
    }
    StationFigures alone;
    {
        const auto sims = fixtures(1, true, boards);
        alone = runStation(cli, firmware, folder.filePath(QStringLiteral("alone.sqlite")), sims, boards);
    }
    const double perHour = 3600.0 * all.passed / all.wallSeconds;
    const double alonePerHour = 3600.0 * alone.passed / alone.wallSeconds;
    const double ratio = alonePerHour > 0 ? perHour / (slotCount * alonePerHour) : 0;
    std::printf("   %d slots: %d boards passed in %.1f s = %.0f boards per hour; one slot: %d in %.1f s = %.0f per hour\n",
                slotCount, all.passed, all.wallSeconds, perHour, alone.passed, alone.wallSeconds, alonePerHour);
    std::printf("   boards per hour against %d x one slot: %.3f   goal: at least 0.95  -> %s\n", slotCount, ratio,
                verdict(all.exitStatus == 0 && all.passed == slotCount * boards && ratio >= 0.95));
    const double flashing = 100.0 * all.cpuSeconds / std::max(all.flashingSeconds, 1e-9);
    std::printf("   CPU per flashing slot: %.2f s of CPU over %.1f slot-seconds of flashing = %.2f %% of a core"
                "   goal: at most 1 %%  -> %s\n",
                all.cpuSeconds, all.flashingSeconds, flashing, verdict(flashing <= 1.0));

    // The slots' start-up (opening the ports, the main-code command) is
    // left out: the first 5 s, then 20 s of waiting.
    constexpr int settleMsecs = 5000;
    constexpr int waitMsecs = 25000;
    StationFigures waiting;
    {
        const auto sims = fixtures(slotCount, false);
        waiting = runStation(cli, firmware, folder.filePath(QStringLiteral("waiting.sqlite")), sims, 0, waitMsecs, {},
                             settleMsecs);
    }
    const double withStart = 100.0 * waiting.cpuSeconds / waiting.wallSeconds / slotCount;
    const double perWaiting = 100.0 * waiting.settledCpuSeconds / std::max(waiting.settledWallSeconds, 1e-9) / slotCount;
    std::printf("   CPU per waiting slot: %.3f s of CPU over %.1f s of waiting for %d slots = %.4f %% of a core"
                " (%.4f %% with the start and the end)   goal: at most 0.05 %%  -> %s\n",
                waiting.settledCpuSeconds, waiting.settledWallSeconds, slotCount, perWaiting, withStart,
                verdict(perWaiting <= 0.05));
    const double peakMiB = double(std::max(all.peakKiB, waiting.peakKiB)) / 1024.0;
    std::printf("   memory of the %d-slot station (largest resident set, flashing and waiting): %.1f MB"
                "   goal: at most 150 MB  -> %s\n",
                slotCount, peakMiB * 1.048576, verdict(peakMiB > 0 && peakMiB * 1.048576 <= 150.0));
}

void benchStationSerials()
{
    constexpr int boards = 5;
    std::printf("\n6. Serial numbers: %d paced slots at 57600 baud, %d boards each of %d records, with and "
                "without --serial (4 bytes, le, across two records)\n",
                kSlots, boards, kRecords);
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/quobin-cli");
    if (!QFile::exists(cli)) {
        std::printf("   %s not built: skipped\n", qPrintable(cli));
        return;
    }
    QTemporaryDir folder;
    const QString firmware = folder.filePath(QStringLiteral("station.hex"));
    QFile file(firmware);
    if (!file.open(QIODevice::WriteOnly) || file.write(sim::HexRecord::sampleImage(kRecords)) < 0)
        throw std::runtime_error("cannot write the firmware file");
    file.close();

    auto run = [&](const QString &name, const QStringList &more) {
        std::vector<std::unique_ptr<ControllerSimulator>> sims;
        for (int i = 0; i < kSlots; ++i) {
            SimulatorConfig config;
            config.version = "1.28";
            config.caretDelayMs = 300;
            config.paced = true;
            config.stayAwake = false;
            config.fixture.enabled = true;
            config.fixture.gapMs = kSwapMsecs;
            config.fixture.boards = boards;
            sims.push_back(std::make_unique<ControllerSimulator>(config));
        }
        return runStation(cli, firmware, folder.filePath(name), sims, kSlots * boards, 0, more);
    };
    const StationFigures plain = run(QStringLiteral("plain.sqlite"), {});
    const StationFigures serial = run(QStringLiteral("serial.sqlite"), {QStringLiteral("--serial"), QStringLiteral("bench@0x0E:4:le")});
    const double plainPerHour = 3600.0 * plain.passed / plain.wallSeconds;
    const double serialPerHour = 3600.0 * serial.passed / serial.wallSeconds;
    const double ratio = plainPerHour > 0 ? serialPerHour / plainPerHour : 0;
    std::printf("   without: %d boards in %.1f s = %.0f per hour; with serials: %d in %.1f s = %.0f per hour\n",
                plain.passed, plain.wallSeconds, plainPerHour, serial.passed, serial.wallSeconds, serialPerHour);
    std::printf("   ratio: %.3f   goal: at least 0.98  -> %s\n", ratio,
                verdict(plain.exitStatus == 0 && serial.exitStatus == 0 && serial.passed == kSlots * boards && ratio >= 0.98));

    const std::vector<double> takes = allocationTimes(folder.filePath(QStringLiteral("alloc.sqlite")), 200);
    const double slowest = *std::max_element(takes.begin(), takes.end());
    std::printf("   allocating one number with its commit on SQLite (200 takes): median %.2f ms, slowest %.2f ms"
                "   goal: median under 5 ms  -> %s\n",
                median(takes), slowest, verdict(median(takes) < 5.0));
}

void benchStation()
{
    std::printf("\n5. quobin-cli station: %d paced slots at 57600 baud, %d boards each of %d records, "
                "%d ms to swap a board; then one slot alone\n",
                kSlots, kBoardsPerSlot, kRecords, kSwapMsecs);
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/quobin-cli");
    if (!QFile::exists(cli)) {
        std::printf("   %s not built: skipped\n", qPrintable(cli));
        return;
    }
    QTemporaryDir folder;
    const QString firmware = folder.filePath(QStringLiteral("station.hex"));
    QFile file(firmware);
    if (!file.open(QIODevice::WriteOnly) || file.write(sim::HexRecord::sampleImage(kRecords)) < 0)
        throw std::runtime_error("cannot write the firmware file");
    file.close();

    StationFigures all;
    {
        const auto sims = fixtures(kSlots, true);
        all = runStation(cli, firmware, folder.filePath(QStringLiteral("all.sqlite")), sims, kSlots * kBoardsPerSlot);
    }
    StationFigures alone;
    {
        const auto sims = fixtures(1, true);
        alone = runStation(cli, firmware, folder.filePath(QStringLiteral("alone.sqlite")), sims, kBoardsPerSlot);
    }
    const double perHour = 3600.0 * all.passed / all.wallSeconds;
    const double alonePerHour = 3600.0 * alone.passed / alone.wallSeconds;
    const double goal = 0.95 * kSlots * alonePerHour;
    std::printf("   %d slots: %d boards passed in %.1f s = %.0f boards per hour; one slot: %d in %.1f s = %.0f per hour\n",
                kSlots, all.passed, all.wallSeconds, perHour, alone.passed, alone.wallSeconds, alonePerHour);
    std::printf("   boards per hour: %.0f   goal: at least 0.95 x %d x %.0f = %.0f  -> %s\n", perHour, kSlots,
                alonePerHour, goal,
                verdict(all.exitStatus == 0 && all.passed == kSlots * kBoardsPerSlot && perHour >= goal));
    const double flashing = 100.0 * all.cpuSeconds / std::max(all.flashingSeconds, 1e-9);
    std::printf("   CPU per flashing slot: %.2f s of CPU over %.1f slot-seconds of flashing = %.2f %% of a core"
                "   goal: at most 2 %%  -> %s\n",
                all.cpuSeconds, all.flashingSeconds, flashing, verdict(flashing <= 2.0));

    constexpr int waitMsecs = 20000;
    StationFigures waiting;
    {
        const auto sims = fixtures(kSlots, false);
        waiting = runStation(cli, firmware, folder.filePath(QStringLiteral("waiting.sqlite")), sims, 0, waitMsecs);
    }
    const double perWaiting = 100.0 * waiting.cpuSeconds / waiting.wallSeconds / kSlots;
    std::printf("   CPU per waiting slot: %.3f s of CPU over %.1f s for %d slots = %.3f %% of a core"
                "   goal: at most 0.1 %%  -> %s\n",
                waiting.cpuSeconds, waiting.wallSeconds, kSlots, perWaiting, verdict(perWaiting <= 0.1));

    const std::vector<double> commits = commitTimes(folder.filePath(QStringLiteral("commits.sqlite")), 200);
    const double medianCommit = median(commits);
    std::printf("   record commit into SQLite (WAL, full sync), 200 records: median %.2f ms, slowest %.2f ms"
                "   goal: median at most 5 ms  -> %s\n",
                medianCommit, *std::max_element(commits.begin(), commits.end()), verdict(medianCommit <= 5.0));
}

} // namespace quobin::bench
