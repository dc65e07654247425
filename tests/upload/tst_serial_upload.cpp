// A patched image goes to the controller as it stands: the engine sends the
// image it is handed, line by line, over the real serial port to the
// simulator, which keeps every line it received.

#include "Clock.h"
#include "ControllerSimulator.h"
#include "FirmwareCheck.h"
#include "FirmwareImage.h"
#include "HeadlessWindow.h"
#include "HexRecord.h"
#include "QtSerialPort.h"
#include "SerialPlace.h"
#include "SerialSpec.h"
#include "UploadProcedure.h"

#include <QTest>

using namespace quobin;
using quobin::sim::ControllerSimulator;
using quobin::sim::Fault;
using quobin::sim::SimulatorConfig;

namespace {

// The engine's window with nobody in front of it: no question is ever
// answered with Yes, nothing is cancelled.
class QuietWindow : public HeadlessWindow {
public:
    QuietWindow(SerialPort &port, const FirmwareImage &image)
        : HeadlessWindow(port, image.path(), int(image.lines().size()))
    {
    }
    void setStatus(const QString &) override {}
    bool cancelRequested() const override { return false; }
    bool askYesNo(const QString &) override { return false; }

protected:
    void progressed(int, int) override {}
    void note(const QString &) override {}
};

QList<QByteArray> sentLines(const FirmwareImage &image)
{
    QList<QByteArray> lines = image.lines();
    lines.removeAll(QByteArray());
    return lines;
}

} // namespace

class TestSerialUpload : public QObject {
    Q_OBJECT

private slots:
    void patchedImagesReachTheControllerAsTheyStand();
};

void TestSerialUpload::patchedImagesReachTheControllerAsTheyStand()
{
    // A job under an extended linear address record, its serial spanning the
    // first two data records (lines 2 and 3); its answers to line 3 of the
    // first board come in two pieces.
    const QByteArray job = ":020000040800F2\r\n" + sim::HexRecord::sampleImage(64);
    const auto image = FirmwareImage::fromBytes(job, QStringLiteral("job.hex"));
    const SerialSpec format = SerialSpec::parse(QStringLiteral("pump@0x0800000E:4:le:100"));
    const SerialPlace place = SerialPlace::find(*image, format.address, format.width);
    QCOMPARE(place.pieces().size(), 2);

    SimulatorConfig config;
    config.caretDelayMs = 100;
    config.faults = {Fault(Fault::SplitAnswer, 3, 20)};
    ControllerSimulator simulator(config);
    const QString device = simulator.slavePath();
    QtSerialPort port([device](qint16) { return device; });
    SteadyClock clock;

    QList<QByteArray> expected;
    quint64 number = format.first;
    for (int board = 1; board <= 3; ++board, number = *format.after(number)) {
        const auto patched = place.patched(*image, format.encode(number));
        QuietWindow window(port, *patched);
        UploadOptions options;
        options.image = patched;
        options.controllerWaitSeconds = 10;
        const UploadOutcome outcome = UploadProcedure(window, port, clock, options).run();
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.message + outcome.detail));
        expected += sentLines(*patched);
        QCOMPARE(simulator.uploadsCompleted(), board);

        // What this board took into its flash (what the fixture keeps as
        // board-N.hex) is the job with the serial's two lines changed, and
        // every record's checksum right.
        const QList<sim::BoardLog> boards = simulator.boards();
        QCOMPARE(boards.size(), board);
        QVERIFY(boards.last().completed);
        const QList<QByteArray> received = boards.last().lines;
        QCOMPARE(received, sentLines(*patched));
        const QList<QByteArray> original = sentLines(*image);
        for (int i = 0; i < original.size(); ++i) {
            if (i == 1 || i == 2)
                QVERIFY(received[i] != original[i]);
            else
                QCOMPARE(received[i], original[i]);
        }
        QByteArray file;
        for (const QByteArray &line : received)
            file += line + "\r\n";
        const auto flashed = FirmwareImage::fromBytes(file);
        QVERIFY(checkFirmwareImage(*flashed).passed());
        QCOMPARE(format.decode(place.bytesIn(*flashed)), std::optional<quint64>(number));
    }
    QCOMPARE(simulator.receivedLines(), expected);
}

QTEST_GUILESS_MAIN(TestSerialUpload)
#include "tst_serial_upload.moc"
