// The station window's drawing with 32 flashing tiles: the real window,
// its slots played at the pace of a 32-slot station (each tile's progress
// a few times a second, as the engine reports it), on the display that
// QT_QPA_PLATFORM names (run it under xvfb-run for the figure). Prints the
// window's CPU beside its goal; not a test.
//   station_window_bench [SECONDS]   (20 by default)

#include "FileDropLineEdit.h"
#include "HexRecord.h"
#include "SetupPanel.h"
#include "SlotChecklist.h"
#include "StationFakes.h"
#include "StationWindow.h"
#include "TempFiles.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QPushButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

#include <sys/resource.h>

using namespace quobin;
using namespace quobin::testing;

namespace {

constexpr int kSlots = 32;
// How often a flashing slot's progress reaches the window.
constexpr int kUpdateMsecs = 100;
// A board of 1000 lines at 57600 baud takes about eight seconds.
constexpr double kBoardSeconds = 8.0;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 20;

    TempFiles files;
    PlayedStation station;
    MemoryStore store;
    RecordingBoxes boxes;
    ScriptedFileDialog fileDialog;
    ScriptedSaveDialog saveDialog;
    CountingSounds sounds;
    QList<SlotCandidate> candidates;
    QStringList ports;
    for (int n = 1; n <= kSlots; ++n) {
        const QString socket = QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:%1.%2:1.0-port0")
                                   .arg(1 + (n - 1) / 8).arg(1 + (n - 1) % 8);
        candidates.append({socket, QStringLiteral("/dev/ttyUSB%1, FTDI FT232R, serial A%1").arg(n - 1)});
        ports << socket;
    }
    StationWindow window(StationWindowServices{station, boxes, fileDialog, saveDialog, sounds,
                                               [&] { return candidates; },
                                               [&](const QString &) -> std::unique_ptr<records::RecordStore> {
                                                   return std::make_unique<MemoryStore>();
                                               },
                                               [](const QList<records::BoardRecord> &) { return QByteArray(); }},
                         files.filePath(QStringLiteral("quobin-station.ini")));
    window.resize(1920, 1040);
    window.show();
    SetupPanel *setup = window.setupPanel();
    setup->refreshSlots();
    setup->jobEdit()->setText(files.write(QStringLiteral("main.hex"), sim::HexRecord::sampleImage(20)));
    emit setup->jobEdit()->editingFinished();
    for (int i = 0; i < setup->slotList()->count(); ++i)
        setup->slotList()->box(i)->setChecked(ports.contains(setup->slotList()->port(i)));
    window.startStopButton()->click();

    // Each slot flashes board after board, its boards out of step with the
    // others'.
    QElapsedTimer clock;
    clock.start();
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const double now = clock.elapsed() / 1000.0;
        for (int i = 0; i < kSlots; ++i) {
            const double into = std::fmod(now + i * kBoardSeconds / kSlots, kBoardSeconds);
            SlotView view;
            view.label = StationWindow::slotLabel(ports[i]);
            view.adapter = candidates[i].description;
            view.state = SlotState::Flashing;
            view.percent = int(100 * into / kBoardSeconds);
            view.secondsLeft = int(kBoardSeconds - into + 0.5);
            view.passed = int(now / kBoardSeconds);
            emit station.slotChanged(i, view);
        }
    });
    ticks.start(kUpdateMsecs);

    double cpuAtStart = 0;
    QElapsedTimer measured;
    QTimer::singleShot(3000, [&] {
        cpuAtStart = cpuSeconds();
        measured.start();
        QTimer::singleShot(seconds * 1000, [&] {
            const double cpu = cpuSeconds() - cpuAtStart;
            const double wall = measured.elapsed() / 1000.0;
            const double percent = 100.0 * cpu / wall;
            std::printf("station window, %d flashing tiles at 1920x1040 on %s, progress every %d ms per tile:"
                        " %.2f s of CPU over %.1f s = %.1f %% of a core   goal: at most 5 %%  -> %s\n",
                        kSlots, qPrintable(QGuiApplication::platformName()), kUpdateMsecs, cpu, wall, percent,
                        percent <= 5.0 ? "met" : "MISSED");
            std::fflush(stdout);
            ticks.stop();
            QCoreApplication::exit(0);
        });
    });
    return app.exec();
}
