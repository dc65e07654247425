// Measures the serial waits, the upload's throughput against the simulator,
// and the program's start-up, and prints each figure beside its goal.
//
// Usage: quobin_bench [--skip-wait] [--skip-startup] [--skip-gang] [--gang-only] [--skip-station]
//                    [--station-only] [--station32-only] [--serial-only] [--live-only] [--lines N] [--spinning-host]
//        --gang-only: only the gang figure of quobin-cli (8 paced controllers, then one)
//        --station-only: only the station figures of quobin-cli station
//        --station32-only: only the figures of a 32-slot quobin-cli station
//        --serial-only: only the serial numbers' figures (patching an image of 32,767 lines)
//        --live-only: only what publishing the live view costs a station
//        --spinning-host: the upload's waits never sleep between passes, to show
//        what the thread wake-ups of a sleeping host cost on a paced wire
//        quobin_bench --startup-under-x <quobin binary>   (run by the bench itself under xvfb-run)

#include "Clock.h"
#include "ControllerSimulator.h"
#include "HexRecord.h"
#include "QtSerialPort.h"
#include "RecordingWindow.h"
#include "SerialPort.h"
#include "UploadProcedure.h"
#include "PollWithDeadline.h"
#include "SerialBench.h"
#include "StationBench.h"
#include "LiveBench.h"
#include "NetworkBench.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <memory>
#include <semaphore>
#include <stdexcept>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace quobin;
using quobin::sim::ControllerSimulator;
using quobin::sim::SimulatorConfig;
using quobin::testing::RecordingWindow;
using Steady = std::chrono::steady_clock;

namespace {

constexpr int kBaud = 57600;
constexpr int kBitsPerByte = 10;
// Lines in the firmware file; --lines N sets fewer for a quick look.
int hexLines = 32767;

double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double millis(Steady::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = std::max<std::size_t>(1, std::size_t(std::ceil(fraction * values.size())));
    return values[std::min(rank, values.size()) - 1];
}

double mean(const std::vector<double> &values)
{
    double sum = 0;
    for (const double v : values)
        sum += v;
    return values.empty() ? NAN : sum / double(values.size());
}

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

// Passes everything to the real port and notes, on the host's side, how long
// the upload takes from reading a line's answer to writing the next line.
class TimingPort : public SerialPort {
public:
    explicit TimingPort(SerialPort &port) : m_port(port) {}
    std::vector<double> hostMs;
    std::vector<Steady::time_point> answerReads, lineWrites;

    void setCommPort(qint16 number) override { m_port.setCommPort(number); }
    void setSettings(const QString &settings) override { m_port.setSettings(settings); }
    void setHandshaking(qint32 handshake) override { m_port.setHandshaking(handshake); }
    void setPortOpen(bool open) override { m_port.setPortOpen(open); }
    bool portOpen() const override { return m_port.portOpen(); }
    void output(const QByteArray &bytes) override
    {
        if (m_answered && bytes.startsWith(':'))
            hostMs.push_back(millis(Steady::now() - m_answerAt));
        m_answered = false;
        if (bytes.startsWith(':')) lineWrites.push_back(Steady::now());
        m_port.output(bytes);
    }
    QByteArray input() override
    {
        const QByteArray bytes = m_port.input();
        if (bytes.contains('~')) {
            m_answered = true;
            m_answerAt = Steady::now();
            answerReads.push_back(m_answerAt);
        }
        return bytes;
    }
    qint16 inBufferCount() override { return m_port.inBufferCount(); }
    void waitForInput(int msecs) override { m_port.waitForInput(msecs); }

private:
    SerialPort &m_port;
    bool m_answered = false;
    Steady::time_point m_answerAt;
};

WaitHooks windowHooks(RecordingWindow &window)
{
    return WaitHooks{[&window] { return window.cancelRequested(); },
                     [&window](int maxBlockMsecs) { window.letEventsRun(maxBlockMsecs); }};
}

// 1. The wait for the bootloader's active character: its cost while nothing
// comes, and how soon it notices a byte.
void benchWaitForCaret()
{
    std::printf("1. Wait for \"^\" (QtSerialPort at 57600 with XON/XOFF, window hooks)\n");
    SimulatorConfig config;
    config.caretDelayMs = -1;
    ControllerSimulator sim(config);
    QtSerialPort port([path = sim.slavePath()](qint16) { return path; });
    port.setCommPort(1);
    port.setSettings(QStringLiteral("57600,n,8,1"));
    port.setHandshaking(SerialPort::XonXoff);
    port.setPortOpen(true);
    SteadyClock clock;
    PollWithDeadline waits(port, clock);
    RecordingWindow window;

    constexpr double idleSeconds = 10.0;
    QByteArray response;
    const double processBefore = cpuSeconds(RUSAGE_SELF);
    const double threadBefore = cpuSeconds(RUSAGE_THREAD);
    const auto started = Steady::now();
    std::thread reset([&sim, idleSeconds] {
        std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
        sim.sendActiveCharacter();
    });
    waits.forMarker('^', response, windowHooks(window));
    const double waited = std::chrono::duration<double>(Steady::now() - started).count();
    const double processCpu = cpuSeconds(RUSAGE_SELF) - processBefore;
    const double threadCpu = cpuSeconds(RUSAGE_THREAD) - threadBefore;
    reset.join();
    std::printf("   idle wait %.2f s: process CPU %.3f s = %.2f %% of one core "
                "(waiting thread %.3f s)   goal: under 1 %%  -> %s\n",
                waited, processCpu, 100.0 * processCpu / waited, threadCpu,
                verdict(processCpu / waited < 0.01));
    std::printf("   passes that let events run: %d\n", window.eventRuns);

    // Latency: the simulator writes "^" while the wait blocks; the delay is
    // from the simulator's write to the wait's return.
    constexpr int rounds = 200;
    std::vector<double> latencies;
    std::binary_semaphore waiting(0);
    std::thread sender([&] {
        for (int i = 0; i < rounds; ++i) {
            waiting.acquire();
            std::this_thread::sleep_for(std::chrono::milliseconds(2 + i % 5));
            sim.send("^");
        }
    });
    for (int i = 0; i < rounds; ++i) {
        response.clear();
        waiting.release();
        waits.forMarker('^', response, windowHooks(window));
        const auto returned = Steady::now();
        const auto sent = sim.sentChunks();
        latencies.push_back(millis(returned - sent.last().at));
    }
    sender.join();
    port.setPortOpen(false);
    const double p99 = percentile(latencies, 0.99);
    std::printf("   latency over %d bytes: median %.3f ms, p99 %.3f ms, max %.3f ms   "
                "goal: p99 under 1 ms  -> %s\n",
                rounds, percentile(latencies, 0.5), p99, percentile(latencies, 1.0),
                verdict(p99 < 1.0));
}

QString writeFirmware(const QTemporaryDir &folder)
{
    const QString path = folder.filePath(QStringLiteral("bench.hex"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the firmware file");
    file.write(sim::HexRecord::sampleImage(hexLines - 1));
    return path;
}

struct TransferFigures {
    bool succeeded = false;
    int lines = 0;
    qint64 wireBytes = 0;      // every line and every answer
    double transferSeconds = 0; // first line's first byte to the last answer
    double processCpu = 0;
    double hostThreadCpu = 0;
    std::vector<double> turnaroundMs;
    std::vector<double> hostOnlyMs; // answer read by the upload -> next line written
    double hostWakeMs = 0;      // paced: answer written -> read by the upload (mean)
    double simWakeMs = 0;       // paced: line written -> taken by the simulator (mean)
    double answerWriteMs = 0;   // paced: answer due -> written (mean)
    int resends = 0;            // lines received again with the same text
    QStringList slowest;        // the longest turnarounds, with their line
    QString firstLines;
};

bool spinningHost = false;

// A window whose waits never sleep: each pass only runs the pending events.
class SpinningWindow : public RecordingWindow {
public:
    void letEventsRun(int) override { RecordingWindow::letEventsRun(0); }
};

TransferFigures upload(const QString &firmware, bool paced)
{
    SimulatorConfig config;
    config.version = "1.28";
    config.paced = paced;
    ControllerSimulator sim(config);
    QtSerialPort realPort([path = sim.slavePath()](qint16) { return path; });
    TimingPort port(realPort);
    SteadyClock clock;
    RecordingWindow sleepingWindow;
    SpinningWindow spinningWindow;
    RecordingWindow &window = spinningHost ? spinningWindow : sleepingWindow;
    window.path = firmware;

    TransferFigures figures;
    const double processBefore = cpuSeconds(RUSAGE_SELF);
    const double threadBefore = cpuSeconds(RUSAGE_THREAD);
    UploadProcedure(window, port, clock).run();
    figures.processCpu = cpuSeconds(RUSAGE_SELF) - processBefore;
    figures.hostThreadCpu = cpuSeconds(RUSAGE_THREAD) - threadBefore;
    figures.succeeded = window.boxes == QStringList{"plain: Update File successfully uploaded."}
                        && sim.uploadsCompleted() == 1;
    if (!figures.succeeded)
        std::printf("   upload did not succeed: %s\n", qPrintable(window.boxes.join(" | ")));

    figures.hostOnlyMs = port.hostMs;
    const auto lines = sim.lineRecords();
    const auto sent = sim.sentChunks();
    QHash<int, sim::TimePoint> answeredAt; // line -> when its answer's last byte was written
    qint64 answerBytes = 0;
    for (const auto &chunk : sent) {
        if (chunk.line > 0) {
            answeredAt[chunk.line] = chunk.at;
            answerBytes += chunk.bytes.size();
        }
    }
    figures.lines = int(lines.size());
    for (int k = 0; k < std::min<qsizetype>(3, lines.size()); ++k)
        figures.firstLines += QString::fromLatin1(lines[k].text.left(20).toPercentEncoding()) + QLatin1Char(' ');
    for (const auto &line : lines)
        figures.wireBytes += line.text.size();
    figures.wireBytes += answerBytes;
    if (!lines.isEmpty() && answeredAt.contains(int(lines.size())))
        figures.transferSeconds = std::chrono::duration<double>(
                                      answeredAt.value(int(lines.size())) - lines.first().firstByteAt)
                                      .count();
    std::vector<std::pair<double, int>> byLine;
    for (int k = 1; k < lines.size(); ++k) {
        if (lines[k].text == lines[k - 1].text)
            ++figures.resends;
        if (answeredAt.contains(k)) {
            // On a paced wire the simulator times a line from when its last
            // byte has crossed the wire; the turnaround ends when it was read.
            const double lineWireMs = paced ? lines[k].text.size() * 1000.0 * kBitsPerByte / kBaud : 0.0;
            figures.turnaroundMs.push_back(millis(lines[k].firstByteAt - answeredAt.value(k)) - lineWireMs);
            byLine.emplace_back(figures.turnaroundMs.back(), k);
        }
    }
    if (paced) {
        // Where each line's time beyond the wire goes: the host noticing the
        // answer, the simulator noticing the next line, the answer's write.
        const double byteMs = 1000.0 * kBitsPerByte / kBaud;
        double hostWake = 0, simWake = 0, answerWrite = 0;
        int counted = 0;
        for (int k = 1; k + 1 < lines.size() && k < int(port.answerReads.size())
                        && k < int(port.lineWrites.size());
             ++k) {
            if (!answeredAt.contains(k) || !answeredAt.contains(k + 1))
                continue;
            hostWake += millis(port.answerReads[k - 1] - answeredAt.value(k));
            simWake += millis(lines[k].firstByteAt - port.lineWrites[k]) - lines[k].text.size() * byteMs;
            answerWrite += millis(answeredAt.value(k + 1) - lines[k].completeAt) - byteMs;
            ++counted;
        }
        if (counted > 0) {
            figures.hostWakeMs = hostWake / counted;
            figures.simWakeMs = simWake / counted;
            figures.answerWriteMs = answerWrite / counted;
        }
    }
    std::sort(byLine.rbegin(), byLine.rend());
    for (std::size_t i = 0; i < std::min<std::size_t>(5, byLine.size()); ++i) {
        const int k = byLine[i].second;
        figures.slowest << QStringLiteral("%1 ms after line %2 (answer \"%3\")")
                               .arg(byLine[i].first, 0, 'f', 1)
                               .arg(k)
                               .arg(QString::fromLatin1(sent[0].bytes.isEmpty() ? "" : ""));
        QByteArray answer;
        for (const auto &chunk : sent)
            if (chunk.line == k)
                answer += chunk.bytes;
        figures.slowest.last().replace(QStringLiteral("\"\""),
                                       QStringLiteral("\"") + QString::fromLatin1(answer.toPercentEncoding()) + QStringLiteral("\""));
    }
    return figures;
}

// 2. The whole upload of a long file, first as fast as the host can go, then
// on a wire paced at 57600 baud.
void benchTransfer()
{
    std::printf("\n2. Transfer of a %d-line Intel HEX file (UploadProcedure, SteadyClock, simulator "
                "version 1.28)\n",
                hexLines);
    QTemporaryDir folder;
    const QString firmware = writeFirmware(folder);

    const TransferFigures fast = upload(firmware, false);
    const double median = percentile(fast.turnaroundMs, 0.5);
    const double p99 = percentile(fast.turnaroundMs, 0.99);
    std::printf("   (a) no pacing: %d lines in %.3f s = %.0f lines/s; CPU %.2f s for the whole "
                "upload (host thread %.2f s, the rest is the simulator)\n",
                fast.lines, fast.transferSeconds, fast.lines / fast.transferSeconds, fast.processCpu,
                fast.hostThreadCpu);
    std::printf("       host turnaround (answer written -> next line's first byte read): median "
                "%.3f ms   goal: under 0.1 ms  -> %s\n",
                median, verdict(median < 0.1));
    std::printf("       host turnaround p99 %.3f ms, max %.3f ms   goal: p99 under 1 ms  -> %s\n",
                p99, percentile(fast.turnaroundMs, 1.0), verdict(p99 < 1.0));

    std::printf("       of which inside the upload (answer read -> next line written): median %.3f ms, "
                "p99 %.3f ms, mean %.3f ms; whole turnaround mean %.3f ms\n",
                percentile(fast.hostOnlyMs, 0.5), percentile(fast.hostOnlyMs, 0.99),
                mean(fast.hostOnlyMs), mean(fast.turnaroundMs));
    std::printf("       lines resent: %d; slowest: %s\n", fast.resends,
                qPrintable(fast.slowest.join(QStringLiteral("; "))));

    const TransferFigures paced = upload(firmware, true);
    const double limit = double(paced.wireBytes) * kBitsPerByte / kBaud;
    const double over = 100.0 * (paced.transferSeconds - limit) / limit;
    std::printf("   (b) paced at %d baud: %d lines, %lld bytes on the wire; transfer %.3f s, wire "
                "limit %.3f s (%+.2f %%)   goal: within 1 %% of the limit  -> %s\n",
                kBaud, paced.lines, paced.wireBytes, paced.transferSeconds, limit, over,
                verdict(paced.succeeded && std::abs(over) < 1.0));
    std::printf("       paced median turnaround %.3f ms, p99 %.3f ms; CPU %.2f s (host thread "
                "%.2f s)\n",
                percentile(paced.turnaroundMs, 0.5), percentile(paced.turnaroundMs, 0.99),
                paced.processCpu, paced.hostThreadCpu);
    std::printf("       inside the upload: median %.3f ms, p99 %.3f ms, mean %.3f ms; whole turnaround "
                "mean %.3f ms\n",
                percentile(paced.hostOnlyMs, 0.5), percentile(paced.hostOnlyMs, 0.99),
                mean(paced.hostOnlyMs), mean(paced.turnaroundMs));
    std::printf("       per line beyond the wire (means): host wakes for the answer %.3f ms, simulator "
                "wakes for the line %.3f ms, answer write %.3f ms\n",
                paced.hostWakeMs, paced.simWakeMs, paced.answerWriteMs);
    std::printf("       lines received: %d (file: %d); first lines: %s\n", paced.lines, hexLines,
                qPrintable(paced.firstLines));
    std::printf("       lines resent: %d; slowest: %s\n", paced.resends,
                qPrintable(paced.slowest.join(QStringLiteral("; "))));
}

QString readStatusField(pid_t pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return QString::fromLatin1(line.mid(qstrlen(field))).simplified();
    }
    return {};
}

bool windowShown()
{
    QProcess search;
    search.start(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("Kelsar Vantor Quobin")});
    search.waitForFinished(2000);
    return !search.readAllStandardOutput().trimmed().isEmpty();
}

// Runs on the virtual X server: starts the program several times and times
// each start to its window. Prints the figures itself.
int startupUnderX(const QString &binary)
{
    constexpr int runs = 5;
    std::vector<double> startMs;
    std::vector<double> hwmMb;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir folder;
        const QString copy = folder.filePath(QStringLiteral("quobin"));
        QFile::copy(binary, copy);
        // A settings file beside it, as after an earlier run: without one the
        // program first asks about the missing file.
        QFile settings(folder.filePath(QStringLiteral("quobin.ini")));
        if (settings.open(QIODevice::WriteOnly))
            settings.write("2\r\n3\r\n\"/fw/main.hex\"\r\n");
        settings.close();
        unsetenv("QT_QPA_PLATFORM");
        const QByteArray program = QFile::encodeName(copy);
        char *argv[] = {const_cast<char *>(program.constData()), nullptr};
        pid_t pid = 0;
        const auto started = Steady::now();
        if (posix_spawn(&pid, program.constData(), nullptr, nullptr, argv, environ) != 0) {
            std::printf("   cannot start %s\n", program.constData());
            return 1;
        }
        bool shown = false;
        while (!shown && Steady::now() - started < std::chrono::seconds(20)) {
            shown = windowShown();
            if (!shown)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const double elapsed = millis(Steady::now() - started);
        // Let it settle, then read its peak resident size.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const QString hwm = readStatusField(pid, "VmHWM:");
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!shown) {
            std::printf("   run %d: no window within 20 s\n", run + 1);
            return 1;
        }
        startMs.push_back(elapsed);
        hwmMb.push_back(hwm.section(' ', 0, 0).toDouble() / 1024.0);
        std::printf("   run %d: window shown after %.0f ms, max RSS %.1f MB\n", run + 1, elapsed,
                    hwmMb.back());
    }
    const double worstStart = percentile(startMs, 1.0);
    const double worstMem = percentile(hwmMb, 1.0);
    std::printf("   start-up median %.0f ms, worst %.0f ms (first run includes a cold cache)   goal: "
                "start-up under 1 s  -> %s\n",
                percentile(startMs, 0.5), worstStart, verdict(worstStart < 1000));
    std::printf("   max RSS worst %.1f MB   goal: memory under 100 MB  -> %s\n", worstMem,
                verdict(worstMem < 100));
    std::printf("   (the time includes the polling with xdotool, a few ms per poll)\n");
    return 0;
}

// 3. Start-up of the real program on a virtual X server.
void benchStartup()
{
    std::printf("\n3. Start-up of the real program under xvfb-run\n");
    const QString binary = QCoreApplication::applicationDirPath() + QStringLiteral("/quobin");
    if (!QFile::exists(binary)) {
        std::printf("   %s not built: skipped\n", qPrintable(binary));
        return;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
        std::printf("   xvfb-run or xdotool not installed: skipped\n");
        return;
    }
    std::fflush(stdout);
    QProcess x;
    x.setProcessChannelMode(QProcess::ForwardedChannels);
    x.start(QStringLiteral("xvfb-run"),
            {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 800x600x24"),
             QCoreApplication::applicationFilePath(), QStringLiteral("--startup-under-x"), binary});
    if (!x.waitForFinished(180000)) {
        x.kill();
        std::printf("   the start-up runs did not finish in time\n");
    }
}

struct CliRunFigures {
    double wallSeconds = 0;
    double cliCpuSeconds = 0;   // quobin-cli's own user + system time
    double simCpuSeconds = 0;   // this process: the simulators' threads
    int successes = 0;
    bool finished = false;
    double fastestPortSeconds = 0; // the ports' own times, from their results
    double slowestPortSeconds = 0;
};

// One quobin-cli run uploading firmware to every controller at once.
CliRunFigures runCli(const QString &cli, const QString &firmware,
                     const std::vector<std::unique_ptr<ControllerSimulator>> &controllers)
{
    QStringList arguments{QStringLiteral("upload"), QStringLiteral("--json"), QStringLiteral("--on-error"),
                          QStringLiteral("stop")};
    for (const auto &controller : controllers)
        arguments << QStringLiteral("--port") << controller->slavePath();
    arguments << firmware;

    CliRunFigures figures;
    const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double selfBefore = cpuSeconds(RUSAGE_SELF);
    const auto started = Steady::now();
    QProcess process;
    process.start(cli, arguments);
    figures.finished = process.waitForFinished(600000);
    figures.wallSeconds = millis(Steady::now() - started) / 1000.0;
    figures.cliCpuSeconds = cpuSeconds(RUSAGE_CHILDREN) - childrenBefore;
    figures.simCpuSeconds = cpuSeconds(RUSAGE_SELF) - selfBefore;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value(QStringLiteral("event")).toString() != QStringLiteral("result"))
            continue;
        figures.successes += event.value(QStringLiteral("result")).toString() == QStringLiteral("success");
        const double seconds = event.value(QStringLiteral("seconds")).toDouble();
        figures.fastestPortSeconds = figures.fastestPortSeconds == 0 ? seconds : std::min(figures.fastestPortSeconds, seconds);
        figures.slowestPortSeconds = std::max(figures.slowestPortSeconds, seconds);
    }
    return figures;
}

// 4. A gang upload with quobin-cli: 8 controllers on paced wires in one run,
// then one controller alone, with the same file.
void benchGang()
{
    constexpr int controllers = 8;
    constexpr int records = 3000;
    std::printf("\n4. Gang upload with quobin-cli: %d controllers paced at %d baud, %d records each, "
                "then one alone\n",
                controllers, kBaud, records);
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/quobin-cli");
    if (!QFile::exists(cli)) {
        std::printf("   %s not built: skipped\n", qPrintable(cli));
        return;
    }
    QTemporaryDir folder;
    const QString firmware = folder.filePath(QStringLiteral("gang.hex"));
    QFile file(firmware);
    if (!file.open(QIODevice::WriteOnly) || file.write(sim::HexRecord::sampleImage(records)) < 0)
        throw std::runtime_error("cannot write the firmware file");
    file.close();

    auto simulators = [](int count) {
        std::vector<std::unique_ptr<ControllerSimulator>> list;
        for (int i = 0; i < count; ++i) {
            SimulatorConfig config;
            config.version = "1.28";
            // After every port has reopened for the bootloader: an earlier
            // "^" would be discarded with what else was waiting.
            config.caretDelayMs = 300;
            config.paced = true;
            // Nine simulators that each keep a core busy around every answer
            // would starve the uploader on two cores: these sleep.
            config.stayAwake = false;
            list.push_back(std::make_unique<ControllerSimulator>(config));
        }
        return list;
    };
    // This machine's wake-ups vary from run to run by several per cent: the
    // gang and the single upload take turns, and the quicker of each counts.
    constexpr int rounds = 3;
    CliRunFigures gang;
    CliRunFigures single;
    auto keepQuicker = [](CliRunFigures &best, const CliRunFigures &run) {
        if (best.wallSeconds == 0 || (run.finished && run.wallSeconds < best.wallSeconds))
            best = run;
    };
    for (int round = 0; round < rounds; ++round) {
        CliRunFigures gangRun;
        {
            const auto list = simulators(controllers);
            gangRun = runCli(cli, firmware, list);
        }
        CliRunFigures singleRun;
        {
            const auto list = simulators(1);
            singleRun = runCli(cli, firmware, list);
        }
        std::printf("   round %d: gang %.2f s, single %.2f s\n", round + 1, gangRun.wallSeconds,
                    singleRun.wallSeconds);
        std::fflush(stdout);
        keepQuicker(gang, gangRun);
        keepQuicker(single, singleRun);
    }
    const double ratio = gang.wallSeconds / single.wallSeconds;
    std::printf("   gang: %d of %d succeeded in %.2f s; single: %d of 1 in %.2f s; ratio %.3f   goal: "
                "within 1.05x  -> %s\n",
                gang.successes, controllers, gang.wallSeconds, single.successes, single.wallSeconds, ratio,
                verdict(gang.finished && single.finished && gang.successes == controllers
                        && single.successes == 1 && ratio <= 1.05));
    std::printf("   the gang's ports took %.2f to %.2f s each\n", gang.fastestPortSeconds,
                gang.slowestPortSeconds);
    const double perPort = 100.0 * gang.cliCpuSeconds / gang.wallSeconds / controllers;
    std::printf("   quobin-cli CPU in the gang: %.2f s over %.2f s = %.2f %% of one core per port   goal: at "
                "most 2 %%  -> %s\n",
                gang.cliCpuSeconds, gang.wallSeconds, perPort, verdict(perPort <= 2.0));
    std::printf("   quobin-cli CPU alone: %.2f s over %.2f s = %.2f %% of one core\n", single.cliCpuSeconds,
                single.wallSeconds, 100.0 * single.cliCpuSeconds / single.wallSeconds);
    std::printf("   the simulators (this process) used %.2f s of CPU in the gang, %.2f s alone, on %u cores\n",
                gang.simCpuSeconds, single.simCpuSeconds, std::thread::hardware_concurrency());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Qt has set the desktop's locale by now. The figures print with a
    // decimal point all the same, so that runs on any machine compare.
    std::setlocale(LC_NUMERIC, "C");
    const QStringList args = app.arguments();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (args.size() >= 3 && args.at(1) == QStringLiteral("--startup-under-x"))
        return startupUnderX(args.at(2));

    const qsizetype linesAt = args.indexOf(QStringLiteral("--lines"));
    if (linesAt > 0 && linesAt + 1 < args.size())
        hexLines = std::clamp(args.at(linesAt + 1).toInt(), 2, 32767);
    spinningHost = args.contains(QStringLiteral("--spinning-host"));
    const bool stationOnly = args.contains(QStringLiteral("--station-only"));
    const bool gangOnly = args.contains(QStringLiteral("--gang-only"));
    const bool serialOnly = args.contains(QStringLiteral("--serial-only"));
    const bool networkOnly = args.contains(QStringLiteral("--network-only"));
    const bool liveOnly = args.contains(QStringLiteral("--live-only"));
    const bool station32Only = args.contains(QStringLiteral("--station32-only"));
    const bool others = !gangOnly && !stationOnly && !serialOnly && !networkOnly && !liveOnly && !station32Only;
    try {
        if (others && !args.contains(QStringLiteral("--skip-wait")))
            benchWaitForCaret();
        if (others)
            benchTransfer();
        if (others && !args.contains(QStringLiteral("--skip-startup")))
            benchStartup();
        if ((others || gangOnly) && !args.contains(QStringLiteral("--skip-gang")))
            benchGang();
        if ((others || stationOnly) && !args.contains(QStringLiteral("--skip-station")))
            quobin::bench::benchStation();
        if (others || serialOnly)
            quobin::bench::benchSerialPatching();
        if ((others || networkOnly) && !args.contains(QStringLiteral("--skip-network")))
            quobin::bench::benchNetwork(2000);
        if (others || stationOnly || serialOnly)
            quobin::bench::benchStationSerials();
        if (others || stationOnly || liveOnly)
            quobin::bench::benchLivePublishing();
        if ((others || station32Only) && !args.contains(QStringLiteral("--skip-station")))
            quobin::bench::benchStation32();
    } catch (const std::exception &e) {
        std::printf("benchmark failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
