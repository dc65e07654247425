#include "NetworkBench.h"

#include "Clock.h"
#include "ControllerSimulator.h"
#include "HexRecord.h"
#include "RecordingWindow.h"
#include "Ser2net.h"
#include "SerialPorts.h"
#include "UploadProcedure.h"

#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace quobin::bench {

namespace {

using quobin::sim::ControllerSimulator;
using quobin::sim::SimulatorConfig;

struct NetworkRun {
    bool succeeded = false;
    int lines = 0;
    double transferSeconds = 0; // first line's first byte to the last line's answer
};

// One paced upload on a fresh simulator; through ser2net when viaServer.
NetworkRun uploadOnce(const QString &firmware, bool viaServer)
{
    SimulatorConfig config;
    config.version = "1.28";
    config.paced = true;
    config.caretDelayMs = 400;
    ControllerSimulator sim(config);
    testing::Ser2net server(sim.slavePath());
    if (viaServer && !server.start())
        throw std::runtime_error("ser2net cannot be started (apt-get install ser2net)");
    const std::unique_ptr<SerialPort> port = makeSerialPortOn(viaServer ? server.address() : sim.slavePath());
    SteadyClock clock;
    testing::RecordingWindow window;
    window.path = firmware;
    UploadProcedure(window, *port, clock).run();

    NetworkRun run;
    run.succeeded = window.boxes == QStringList{"plain: Update File successfully uploaded."} && sim.uploadsCompleted() == 1;
    if (!run.succeeded)
        std::printf("   upload did not succeed: %s\n", qPrintable(window.boxes.join(" | ")));
    const auto lines = sim.lineRecords();
    const auto sent = sim.sentChunks();
    run.lines = int(lines.size());
    if (!lines.isEmpty() && !sent.isEmpty())
        run.transferSeconds = std::chrono::duration<double>(sent.last().at - lines.first().firstByteAt).count();
    return run;
}

} // namespace

void benchNetwork(int lineCount)
{
    QTemporaryDir folder;
    const QString firmware = folder.filePath(QStringLiteral("network.hex"));
    QFile file(firmware);
    if (!file.open(QIODevice::WriteOnly) || file.write(sim::HexRecord::sampleImage(lineCount - 1)) < 0)
        throw std::runtime_error("cannot write the firmware file");
    file.close();

    std::printf("\n6. A %d-line upload at 57600 baud, paced, through ser2net (RFC 2217 on loopback) and on the "
                "pseudo-terminal directly\n",
                lineCount);
    // Wake-ups vary from run to run: the two paths take turns, and the
    // quicker of each counts.
    constexpr int rounds = 3;
    NetworkRun direct;
    NetworkRun network;
    for (int round = 0; round < rounds; ++round) {
        const NetworkRun d = uploadOnce(firmware, false);
        const NetworkRun n = uploadOnce(firmware, true);
        std::printf("   round %d: direct %.3f s, ser2net %.3f s\n", round + 1, d.transferSeconds, n.transferSeconds);
        if (d.succeeded && (direct.transferSeconds == 0 || d.transferSeconds < direct.transferSeconds))
            direct = d;
        if (n.succeeded && (network.transferSeconds == 0 || n.transferSeconds < network.transferSeconds))
            network = n;
    }
    if (direct.transferSeconds == 0 || network.transferSeconds == 0) {
        std::printf("   no successful run to compare\n");
        return;
    }
    const double over = 100.0 * (network.transferSeconds - direct.transferSeconds) / direct.transferSeconds;
    const double perLineUs = 1e6 * (network.transferSeconds - direct.transferSeconds) / network.lines;
    std::printf("   direct: %d lines in %.3f s; ser2net: %d lines in %.3f s; %+.2f %%, %+.1f us a line   goal: "
                "within 3 %%  -> %s\n",
                direct.lines, direct.transferSeconds, network.lines, network.transferSeconds, over, perLineUs,
                over <= 3.0 ? "met" : "MISSED");
}

} // namespace quobin::bench
