#include "SerialBench.h"

#include "FirmwareImage.h"
#include "HexRecord.h"
#include "SerialPlace.h"
#include "SerialSpec.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace quobin::bench {

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

void benchSerialPatching()
{
    // The largest image an upload counts: 32,758 data records of 16 bytes,
    // an extended linear address record before each 64 KiB of them, and the
    // end-of-file record: 32,767 lines. The serial spans the last two data
    // records, so finding it reads every line.
    constexpr int kRecords = 32758;
    constexpr int kPerBase = 4096;
    QByteArray job;
    for (int r = 0; r < kRecords; ++r) {
        if (r % kPerBase == 0) {
            const int upper = 0x0800 + r / kPerBase;
            job += sim::HexRecord::make(QByteArray::fromHex("02000004")
                                        + QByteArray(1, char(upper >> 8)) + QByteArray(1, char(upper & 0xff)))
                + "\r\n";
        }
        const int offset = (r % kPerBase) * 16;
        QByteArray bytes;
        bytes.append(char(16)).append(char(offset >> 8)).append(char(offset & 0xff)).append(char(0));
        for (int i = 0; i < 16; ++i)
            bytes.append(char(0xff));
        job += sim::HexRecord::make(bytes) + "\r\n";
    }
    job += ":00000001FF\r\n";
    const auto image = FirmwareImage::fromBytes(job, QStringLiteral("job.hex"));
    const quint64 lastRecord = (quint64(0x0800 + (kRecords - 1) / kPerBase) << 16) + quint64(((kRecords - 1) % kPerBase) * 16);
    const SerialSpec format = SerialSpec::parse(QStringLiteral("bench@%1:4:le:100000").arg(lastRecord - 2));

    std::printf("6. Serial numbers in an image of %lld lines (%lld bytes)\n",
                static_cast<long long>(image->lines().size()), static_cast<long long>(image->bytes().size()));
    constexpr int kRuns = 200;
    std::vector<double> finds;
    std::vector<double> patches;
    std::vector<double> hashes;
    QElapsedTimer timer;
    quint64 number = format.first;
    std::size_t piecesFound = 0;
    for (int run = 0; run < kRuns; ++run) {
        timer.start();
        const SerialPlace place = SerialPlace::find(*image, format.address, format.width);
        finds.push_back(double(timer.nsecsElapsed()) / 1e6);
        piecesFound = std::size_t(place.pieces().size());

        timer.start();
        const auto patched = place.patched(*image, format.encode(number));
        patches.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.start();
        patched->sha256Hex();
        hashes.push_back(double(timer.nsecsElapsed()) / 1e6);
        number = *format.after(number);
    }
    std::printf("   the serial: %s, in %zu records\n", qPrintable(format.text()), piecesFound);
    std::printf("   finding the place (once per job):            median %.2f ms, slowest %.2f ms over %d runs\n",
                median(finds), *std::max_element(finds.begin(), finds.end()), kRuns);
    std::printf("   patching one board's image:                  median %.2f ms, slowest %.2f ms over %d runs\n",
                median(patches), *std::max_element(patches.begin(), patches.end()), kRuns);
    std::printf("   its SHA-256, when a record asks for it:       median %.2f ms\n", median(hashes));
    std::printf("   (an upload of the same image takes over 4 minutes on a 57600-baud wire)\n");
}

} // namespace quobin::bench
