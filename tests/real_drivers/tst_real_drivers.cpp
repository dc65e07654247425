// The serial code on the kernel's own drivers: quobin-cli runs in a QEMU
// guest on Debian's kernel, through the 8250 driver on an emulated 16550
// and through ftdi_sio on an emulated FTDI adapter, with a simulated
// controller on the host at the far end of each. One guest serves every
// case, in order.

#include "ControllerSimulator.h"
#include "GuestMachine.h"
#include "HexRecord.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <memory>

using namespace quobin::testing;
using quobin::sim::ControllerSimulator;
using quobin::sim::Fault;
using quobin::sim::SimClock;
using quobin::sim::SimulatorConfig;
using quobin::sim::TimePoint;

namespace {

const QByteArray kMainCode = "\r4*730562\r";
const QByteArray kReadyRequest = "@&$";
constexpr char kXoff = '\x13';
constexpr char kXon = '\x11';
const QString kUart = QStringLiteral("/dev/ttyS1");
const QString kAdapterSerial = QStringLiteral("QB17A");
const QString kOtherAdapterSerial = QStringLiteral("QB17B");
// The close after the main-code command waits for the transmitter before
// the reopen at 57600; ftdi_sio answers the question but never reports it
// empty. A "^" that comes before the reopen is lost. Some tens of
// milliseconds are usual; the limit leaves room for a loaded machine.
constexpr qint64 kReopenLimitMsecs = 1000;

// The stable name that udev gives the adapter with serialNumber.
QString byIdName(const QString &serialNumber)
{
    return QStringLiteral("/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_%1-if00-port0").arg(serialNumber);
}
const QString kAdapterById = byIdName(kAdapterSerial);

// The controller as the operator meets it: it resets only when told.
SimulatorConfig controller(QList<Fault> faults = {})
{
    SimulatorConfig config;
    config.version = "1.28";
    config.caretDelayMs = -1;
    config.faults = std::move(faults);
    return config;
}

// The speed the guest has set on the line: QEMU passes it on to the host
// tty it writes to, here the simulator's pseudo-terminal.
int lineBaud(const QString &device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios settings{};
    const int ok = ::tcgetattr(fd, &settings);
    ::close(fd);
    if (ok != 0)
        return -1;
    switch (::cfgetospeed(&settings)) {
    case B9600: return 9600;
    case B57600: return 57600;
    default: return 0;
    }
}

QByteArray everythingReceived(const ControllerSimulator &sim)
{
    QByteArray bytes;
    for (const auto &chunk : sim.receivedChunks())
        bytes += chunk.bytes;
    return bytes;
}

// Every byte of the main-code command reached the controller at 9600, every
// later byte at 57600; empty when so, else what was wrong.
QString speedsOnTheWire(const ControllerSimulator &sim)
{
    qsizetype offset = 0;
    for (const auto &chunk : sim.receivedChunks()) {
        const bool mainCode = offset < kMainCode.size();
        const int wanted = mainCode ? 9600 : 57600;
        if (mainCode && offset + chunk.bytes.size() > kMainCode.size())
            return QStringLiteral("a read held both the main-code command and what followed it");
        if (chunk.settings.baud != wanted)
            return QStringLiteral("bytes %1 to %2 came at %3 baud, not %4")
                .arg(offset).arg(offset + chunk.bytes.size()).arg(chunk.settings.baud).arg(wanted);
        offset += chunk.bytes.size();
    }
    return {};
}

// The JSON objects of the whole lines of text, in order.
QList<QJsonObject> jsonLines(const QByteArray &text)
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : text.left(text.lastIndexOf('\n') + 1).split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            objects << document.object();
    }
    return objects;
}

QJsonObject resultEvent(const QString &output)
{
    QJsonObject result;
    for (const QJsonObject &event : jsonLines(output.toUtf8())) {
        if (event.value(QStringLiteral("event")).toString() == QLatin1String("result"))
            result = event;
    }
    return result;
}

// The index of the first event from `from` on of kind and, when text is
// given, with that text; -1 when there is none.
qsizetype findEvent(const QList<QJsonObject> &events, const QString &kind, const QString &text = {}, qsizetype from = 0)
{
    for (qsizetype i = qMax<qsizetype>(from, 0); i < events.size(); ++i) {
        const QJsonObject &event = events.at(i);
        if (event.value(QStringLiteral("event")).toString() == kind
            && (text.isEmpty() || event.value(QStringLiteral("text")).toString() == text))
            return i;
    }
    return -1;
}

} // namespace

class RealDriversTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_guest = std::make_unique<GuestMachine>(QStringLiteral(QUOBIN_GUEST_IMAGE),
                                                 QStringLiteral(QUOBIN_GUEST_WORK),
                                                 QStringLiteral(QUOBIN_GUEST_RUNNER));
        QVERIFY2(m_guest->boot(300), qPrintable(m_guest->error()));
        // The program runs from the shared work folder, so that no link or
        // settings file beside the host's build changes what it does.
        const QString bin = m_guest->workFolder() + QStringLiteral("/bin");
        QVERIFY(QDir().mkpath(bin));
        m_cli = bin + QStringLiteral("/quobin-cli");
        QVERIFY(QFile::copy(QStringLiteral(QUOBIN_CLI), m_cli));
        m_hex = quobin::sim::HexRecord::sampleImage(200);
        m_firmware = m_guest->workFolder() + QStringLiteral("/firmware.hex");
        QFile file(m_firmware);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(m_hex) == m_hex.size());
    }

    void cleanupTestCase()
    {
        m_guest.reset();
    }

    // A case that failed half-way may leave its upload running: it must not
    // meet the next case's controller.
    void cleanup()
    {
        if (m_guest && !m_uploadJob.isEmpty() && !m_guest->hasEnded(m_uploadJob)) {
            GuestJobResult stopped;
            m_guest->run(QStringLiteral("read -r pid < %1 && kill -KILL \"$pid\"").arg(m_uploadPid), 30, stopped);
            m_guest->waitFor(m_uploadJob, 30, stopped);
        }
        m_uploadJob.clear();
        if (m_guest) {
            QVERIFY2(m_guest->unplugAdapters(), qPrintable(m_guest->error()));
            QVERIFY2(m_guest->connectUart({}), qPrintable(m_guest->error()));
        }
    }

    // The whole upload through the 16550 and the 8250 driver: the controller
    // gets the file byte for byte, the main-code command at 9600 and the rest
    // at 57600.
    void uploadThroughTheUart()
    {
        ControllerSimulator sim(controller());
        QVERIFY2(m_guest->connectUart(sim.slavePath()), qPrintable(m_guest->error()));
        uploadByteExact(sim, kUart);
    }

    // The same through the FTDI adapter and ftdi_sio, named by its stable
    // by-id path as an operator names it.
    void uploadThroughTheAdapter()
    {
        ControllerSimulator sim(controller());
        QVERIFY2(plugAdapter(sim, kAdapterSerial), qPrintable(m_guest->error()));
        uploadByteExact(sim, kAdapterById);
    }

    // The ports list names the 16550 as Com 2 and the adapter by the stable
    // name that udev gives it, with the adapter's own USB description.
    void portsListTheUartAndTheAdapter()
    {
        ControllerSimulator sim(controller());
        QVERIFY2(plugAdapter(sim, kAdapterSerial), qPrintable(m_guest->error()));
        GuestJobResult run;
        QVERIFY2(m_guest->run(QStringLiteral("exec %1 ports --json 2>/dev/null").arg(m_cli), 60, run),
                 qPrintable(m_guest->error()));
        QVERIFY2(run.status == 0, qPrintable(run.output));
        const QJsonObject report = QJsonDocument::fromJson(run.output.toUtf8()).object();
        QJsonObject com2;
        for (const QJsonValue &port : report.value(QStringLiteral("ports")).toArray()) {
            if (port.toObject().value(QStringLiteral("number")).toInt() == 2)
                com2 = port.toObject();
        }
        QCOMPARE(com2.value(QStringLiteral("device")).toString(), kUart);
        QVERIFY2(com2.value(QStringLiteral("exists")).toBool(), qPrintable(run.output));
        QJsonObject adapter;
        for (const QJsonValue &device : report.value(QStringLiteral("unreached")).toArray()) {
            if (device.toObject().value(QStringLiteral("name")).toString() == kAdapterById)
                adapter = device.toObject();
        }
        QVERIFY2(!adapter.isEmpty(), qPrintable(run.output));
        QCOMPARE(adapter.value(QStringLiteral("device")).toString(), QStringLiteral("/dev/ttyUSB0"));
        const QJsonObject usb = adapter.value(QStringLiteral("usb")).toObject();
        QCOMPARE(usb.value(QStringLiteral("serialNumber")).toString(), kAdapterSerial);
        QCOMPARE(usb.value(QStringLiteral("vendorId")).toString(), QStringLiteral("0403"));
        QCOMPARE(usb.value(QStringLiteral("productId")).toString(), QStringLiteral("6001"));
        QVERIFY2(!usb.value(QStringLiteral("product")).toString().isEmpty(), qPrintable(run.output));

        QVERIFY2(m_guest->run(QStringLiteral("exec %1 ports 2>&1").arg(m_cli), 60, run), qPrintable(m_guest->error()));
        QVERIFY2(run.output.contains(kAdapterById), qPrintable(run.output));
        QVERIFY2(run.output.contains(usb.value(QStringLiteral("product")).toString()), qPrintable(run.output));
    }

    // An adapter pulled out while the program waits for the controller's
    // "^": the driver hangs the port up, and the program ends with a port
    // or transfer error at once instead of waiting on a device that has gone.
    void adapterPulledOutWhileWaitingForTheController()
    {
        ControllerSimulator sim(controller());
        QVERIFY2(plugAdapter(sim, kAdapterSerial), qPrintable(m_guest->error()));
        const QString job = upload(kAdapterById);
        QVERIFY(sim.waitUntil([&] { return sim.mainCodeBytes() == kMainCode; }, 60000));
        QVERIFY(sim.waitUntil([&] { return lineBaud(sim.slavePath()) == 57600; }, 30000));
        QThread::msleep(1000);
        pullOutAndExpectAnError(job);
    }

    // The same in the middle of the lines.
    void adapterPulledOutMidTransfer()
    {
        ControllerSimulator sim(controller());
        QVERIFY2(plugAdapter(sim, kAdapterSerial), qPrintable(m_guest->error()));
        const QString job = upload(kAdapterById);
        const QString ready = resetWhenReady(sim);
        QVERIFY2(ready.isEmpty(), qPrintable(ready));
        QVERIFY(sim.waitUntil([&] { return sim.receivedLines().size() >= 20; }, 60000));
        pullOutAndExpectAnError(job);
        QVERIFY(sim.receivedLines().size() < 201);
    }

    // And while it waits for the controller's "@" after the last line, a
    // wait that runs no events: the hang-up still ends it at once, as a
    // port or transfer error, not as a missing end confirmation.
    void adapterPulledOutBeforeTheEndConfirmation()
    {
        ControllerSimulator sim(controller({Fault(Fault::NoCompletion)}));
        QVERIFY2(plugAdapter(sim, kAdapterSerial), qPrintable(m_guest->error()));
        const QString job = upload(kAdapterById);
        const QString ready = resetWhenReady(sim);
        QVERIFY2(ready.isEmpty(), qPrintable(ready));
        // The answer to the end-of-file record, "~" instead of "@", has gone
        // out: the program now waits for the "@" alone.
        const int lines = int(m_hex.count('\n'));
        QVERIFY(sim.waitUntil([&] { return sim.sentBytes().count('~') == lines; }, 120000));
        QThread::msleep(300);
        pullOutAndExpectAnError(job);
    }

    // A station slot named by its adapter's by-id name outlives the adapter:
    // a board passes, the adapter is pulled out while the slot waits for the
    // next board, and comes back under another ttyUSBn (another adapter took
    // its old number meanwhile). The slot shows "no adapter", then follows
    // its name to the new device, sends the main-code command again and
    // flashes the next board; --count ends the run with 0, and the records
    // hold both boards with their devices.
    void stationSlotFollowsItsAdapterBackUnderAnotherNumber()
    {
        SimulatorConfig config = controller();
        config.fixture.enabled = true;
        config.fixture.boards = 1; // the next board comes with the operator's reset
        config.fixture.quietSwapMs = 0;
        ControllerSimulator sim(config);
        ControllerSimulator otherSim(controller());
        QVERIFY2(plugAdapter(sim, kAdapterSerial), qPrintable(m_guest->error()));
        const QString records = m_guest->workFolder() + QStringLiteral("/station.sqlite");
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(records + QLatin1String(suffix));
        const QString name = m_guest->workFolder() + QStringLiteral("/station");
        m_uploadPid = name + QStringLiteral(".pid");
        m_log = name + QStringLiteral(".err");
        m_uploadJob = m_guest->start(
            QStringLiteral("echo $$ > %1\nexec %2 station --slot %3 --json --records %4 --count 2 %5 2> %6\n")
                .arg(m_uploadPid, m_cli, kAdapterById, records, m_firmware, m_log));
        const auto events = [&] { return jsonLines(m_guest->outputSoFar(m_uploadJob)); };
        const auto waitForEvent = [&](const QString &kind, const QString &text, qsizetype from, int timeoutMsecs) {
            const QDeadlineTimer deadline(timeoutMsecs);
            qsizetype found = -1;
            while ((found = findEvent(events(), kind, text, from)) < 0 && !m_guest->hasEnded(m_uploadJob)
                   && !deadline.hasExpired())
                QThread::msleep(100);
            if (found < 0)
                qWarning("no %s event \"%s\"; the station printed:\n%s", qPrintable(kind), qPrintable(text),
                         m_guest->outputSoFar(m_uploadJob).right(3000).constData());
            return found;
        };

        QString ready = resetWhenReady(sim);
        QVERIFY2(ready.isEmpty(), qPrintable(ready));
        const qsizetype firstRecord = waitForEvent(QStringLiteral("record"), {}, 0, 120000);
        QVERIFY(firstRecord >= 0);
        QVERIFY(waitForEvent(QStringLiteral("status"), QStringLiteral("waiting for a board"), firstRecord, 30000) >= 0);
        const QString firstDevice = events().at(firstRecord).value(QStringLiteral("record")).toObject()
                                        .value(QStringLiteral("device")).toString();

        QVERIFY2(m_guest->unplugAdapter(kAdapterSerial), qPrintable(m_guest->error()));
        QVERIFY(waitForEvent(QStringLiteral("status"), QStringLiteral("no adapter"), firstRecord, 30000) >= 0);
        // Once its old device has gone, the other adapter takes its number.
        GuestJobResult gone;
        QVERIFY2(m_guest->run(QStringLiteral("for i in $(seq 300); do [ -e %1 ] || exit 0; sleep 0.1; done; exit 1")
                                  .arg(firstDevice), 60, gone), qPrintable(m_guest->error()));
        QVERIFY2(gone.status == 0, qPrintable(firstDevice + QStringLiteral(" is still there")));
        QVERIFY2(plugAdapter(otherSim, kOtherAdapterSerial), qPrintable(m_guest->error()));
        // The slot finds its adapter back by itself; the controller is
        // watched from the plugging on, to time the reopen.
        QVERIFY2(m_guest->plugAdapter(sim.slavePath(), kAdapterSerial), qPrintable(m_guest->error()));
        ready = resetWhenReady(sim, 2);
        QVERIFY2(ready.isEmpty(), qPrintable(ready));

        GuestJobResult run;
        QVERIFY2(m_guest->waitFor(m_uploadJob, 120, run), qPrintable(m_guest->error()));
        QVERIFY2(run.status == 0, told(run).constData());
        QStringList shown;
        for (const QJsonObject &event : jsonLines(run.output.toUtf8()))
            if (event.value(QStringLiteral("event")).toString() == QLatin1String("status"))
                shown << event.value(QStringLiteral("text")).toString();
        qInfo("The slot showed: %s", qPrintable(shown.join(QStringLiteral(" | "))));

        // Both boards passed, each on the device that its adapter was then.
        GuestJobResult listed;
        QVERIFY2(m_guest->run(QStringLiteral("%1 records --json --records %2; readlink -f %3")
                                  .arg(m_cli, records, kAdapterById), 60, listed),
                 qPrintable(m_guest->error()));
        QList<QJsonObject> stored;
        for (const QJsonObject &object : jsonLines(listed.output.toUtf8()))
            if (object.contains(QStringLiteral("id")))
                stored << object;
        QCOMPARE(stored.size(), 2);
        const QString secondDevice = listed.output.trimmed().section(QLatin1Char('\n'), -1);
        QVERIFY2(secondDevice != firstDevice, qPrintable(listed.output));
        const QStringList devices{firstDevice, secondDevice};
        for (int board = 0; board < 2; ++board) {
            const QJsonObject &record = stored.at(board);
            QCOMPARE(record.value(QStringLiteral("result")).toString(), QStringLiteral("success"));
            QCOMPARE(record.value(QStringLiteral("slot")).toString(), kAdapterById);
            QCOMPARE(record.value(QStringLiteral("device")).toString(), devices.at(board));
            QCOMPARE(record.value(QStringLiteral("byIdName")).toString(), kAdapterById);
            QCOMPARE(record.value(QStringLiteral("usbSerial")).toString(), kAdapterSerial);
        }

        // The slot sent the main-code command again on the new device, and
        // each board took the whole image.
        QCOMPARE(sim.mainCodeCommands(), 2);
        QList<QByteArray> flashed;
        for (const auto &board : sim.boards())
            if (board.completed)
                flashed << board.lines.join();
        QCOMPARE(flashed, QList<QByteArray>(2, QByteArray(m_hex).replace("\r\n", "")));
    }

    // Slots named by the sockets of a bench: two adapters on two ports of a
    // hub, each socket wired to its own board, a station with its slots
    // given by udev's by-path names flashes a board in each. The adapters
    // then swap ports, plugged in the other order so that the kernel numbers
    // them the other way round, and a second run flashes the next boards:
    // each socket is still its slot, its records name the socket and the
    // serial number of the adapter that is in it now, and every board took
    // the whole image.
    void stationSlotsStayWithTheirSocketsWhenAdaptersSwap()
    {
        SimulatorConfig config = controller();
        config.fixture.enabled = true;
        config.fixture.boards = 1; // the next board comes with the operator's reset
        config.fixture.quietSwapMs = 0;
        ControllerSimulator firstBoard(config);
        ControllerSimulator secondBoard(config);
        ControllerSimulator *const boards[2] = {&firstBoard, &secondBoard};
        const QString ports[2] = {QStringLiteral("1.1"), QStringLiteral("1.2")};
        // A short image: the case is about which slot is which.
        const QByteArray hex = quobin::sim::HexRecord::sampleImage(30);
        const QString firmware = m_guest->workFolder() + QStringLiteral("/sockets.hex");
        QFile file(firmware);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(hex) == hex.size());
        file.close();

        QString sockets[2];
        QString firstDevices[2];
        QElapsedTimer clock;
        clock.start();
        for (int round = 0; round < 2; ++round) {
            // Round 0: QB17A in the first socket, plugged in first; round 1:
            // QB17B there, and the second socket's adapter plugged in first.
            const QString inSocket[2] = {round == 0 ? kAdapterSerial : kOtherAdapterSerial,
                                         round == 0 ? kOtherAdapterSerial : kAdapterSerial};
            QString devices[2];
            for (int i : round == 0 ? QList<int>{0, 1} : QList<int>{1, 0}) {
                QVERIFY2(m_guest->plugAdapter(boards[i]->slavePath(), inSocket[i], ports[i]), qPrintable(m_guest->error()));
                const QStringList link = socketLink(inSocket[i], ports[i]);
                QVERIFY2(link.size() == 2, qPrintable(link.join(QLatin1Char('\n'))));
                if (round == 0)
                    sockets[i] = link.at(0);
                QCOMPARE(link.at(0), sockets[i]);
                devices[i] = link.at(1);
            }
            qInfo("Round %d at %.1f s: %s holds %s (%s), %s holds %s (%s)", round + 1, clock.elapsed() / 1000.0,
                  qPrintable(sockets[0]), qPrintable(inSocket[0]), qPrintable(devices[0]), qPrintable(sockets[1]),
                  qPrintable(inSocket[1]), qPrintable(devices[1]));
            // The swap is only a test of the sockets when the kernel's
            // numbers went the other way round too.
            if (round == 0) {
                firstDevices[0] = devices[0];
                firstDevices[1] = devices[1];
            } else {
                QVERIFY2(devices[0] != firstDevices[0] && devices[1] != firstDevices[1],
                         "the kernel numbered the swapped adapters as before");
            }

            const QString name = m_guest->workFolder() + QStringLiteral("/sockets%1").arg(round + 1);
            const QString records = name + QStringLiteral(".sqlite");
            m_uploadPid = name + QStringLiteral(".pid");
            m_log = name + QStringLiteral(".err");
            m_uploadJob = m_guest->start(
                QStringLiteral("echo $$ > %1\nexec %2 station --slot %3 --slot %4 --json --records %5 --count 2 %6 2> %7\n")
                    .arg(m_uploadPid, m_cli, sockets[0], sockets[1], records, firmware, m_log));
            const QString ready = resetAllWhenReady({boards[0], boards[1]}, round + 1);
            QVERIFY2(ready.isEmpty(), qPrintable(ready + QLatin1Char('\n') + QString::fromUtf8(m_guest->outputSoFar(m_uploadJob))));
            GuestJobResult run;
            QVERIFY2(m_guest->waitFor(m_uploadJob, 120, run), qPrintable(m_guest->error()));
            qInfo("Round %d at %.1f s: the station ran %.1f s in the guest", round + 1, clock.elapsed() / 1000.0,
                  run.endedAt - run.startedAt);
            QVERIFY2(run.status == 0, told(run).constData());

            // Read on the host, from the shared folder: a program started
            // in the guest takes seconds.
            QProcess lister;
            lister.setProcessEnvironment(hostEnvironment());
            lister.start(QStringLiteral(QUOBIN_CLI), {QStringLiteral("records"), QStringLiteral("--json"),
                                                     QStringLiteral("--records"), records});
            QVERIFY(lister.waitForFinished(60000));
            const QByteArray listed = lister.readAllStandardOutput() + lister.readAllStandardError();
            QVERIFY2(lister.exitCode() == 0, listed.constData());
            QList<QJsonObject> stored;
            for (const QJsonObject &object : jsonLines(listed))
                if (object.contains(QStringLiteral("id")))
                    stored << object;
            QVERIFY2(stored.size() == 2, listed.constData());
            for (int i = 0; i < 2; ++i) {
                QJsonObject mine;
                for (const QJsonObject &record : stored)
                    if (record.value(QStringLiteral("slot")).toString() == sockets[i])
                        mine = record;
                QVERIFY2(!mine.isEmpty(), qPrintable(sockets[i] + QStringLiteral(" has no record:\n") + QString::fromUtf8(listed)));
                QCOMPARE(mine.value(QStringLiteral("result")).toString(), QStringLiteral("success"));
                QCOMPARE(mine.value(QStringLiteral("socket")).toString(), sockets[i]);
                QCOMPARE(mine.value(QStringLiteral("usbSerial")).toString(), inSocket[i]);
                QCOMPARE(mine.value(QStringLiteral("device")).toString(), devices[i]);
            }
            QVERIFY2(m_guest->unplugAdapters(), qPrintable(m_guest->error()));
            if (round == 1)
                break;
            // The next round's adapters take the numbers afresh.
            GuestJobResult gone;
            QVERIFY2(m_guest->run(QStringLiteral("for i in $(seq 300); do [ -e %1 ] || [ -e %2 ] || exit 0; sleep 0.1; done; exit 1")
                                      .arg(devices[0], devices[1]), 60, gone),
                     qPrintable(m_guest->error()));
            QVERIFY2(gone.status == 0, qPrintable(devices[0] + QStringLiteral(" or ") + devices[1] + QStringLiteral(" is still there")));
        }
        qInfo("Both rounds took %.1f s", clock.elapsed() / 1000.0);

        // Each socket's board got the whole image in both runs, so no slot
        // flashed the board of the other socket.
        for (ControllerSimulator *board : boards) {
            QCOMPARE(board->mainCodeCommands(), 2);
            QList<QByteArray> flashed;
            for (const auto &log : board->boards())
                if (log.completed)
                    flashed << log.lines.join();
            QCOMPARE(flashed, QList<QByteArray>(2, QByteArray(hex).replace("\r\n", "")));
        }
    }

    // Ctrl-C while the controller holds XOFF: the program ends within 5 s
    // with 130, and the line the driver was holding is thrown away, so that
    // it never reaches the controller, not even when XON comes. The 16550
    // only: QEMU's FTDI model does no XON/XOFF.
    void interruptUnderXoffDropsTheHeldLine()
    {
        constexpr int kHeldAfter = 20;
        ControllerSimulator sim(controller({Fault(Fault::XoffHold, kHeldAfter, 12000)}));
        QVERIFY2(m_guest->connectUart(sim.slavePath()), qPrintable(m_guest->error()));
        const QString job = upload(kUart);
        const QString ready = resetWhenReady(sim);
        QVERIFY2(ready.isEmpty(), qPrintable(ready));
        QVERIFY(sim.waitUntil([&] { return sim.sentBytes().contains(kXoff); }, 60000));
        // The program writes the next line into the driver's held queue and
        // waits for its answer.
        QThread::msleep(1000);
        GuestJobResult interrupt;
        // Shell builtins only: starting a program in a loaded guest can take
        // seconds, which must not count as the program's.
        QVERIFY2(m_guest->run(QStringLiteral("read -r pid < %1; kill -INT \"$pid\"; read -r now _ < /proc/uptime; echo \"$now\"")
                                  .arg(m_uploadPid), 30, interrupt),
                 qPrintable(m_guest->error()));
        QVERIFY2(interrupt.status == 0, qPrintable(interrupt.output));
        const double interruptedAt = interrupt.output.section(QLatin1Char('\n'), 0, 0).toDouble();
        GuestJobResult run;
        QVERIFY2(m_guest->waitFor(job, 60, run), qPrintable(m_guest->error()));
        qInfo("Ctrl-C under XOFF: the program ended %.2f s later", run.endedAt - interruptedAt);
        QVERIFY2(run.status == 130, told(run).constData());
        QVERIFY2(run.endedAt - interruptedAt <= 5.0, told(run).constData());

        QVERIFY(sim.waitUntil([&] { return sim.sentBytes().contains(kXon); }, 30000));
        QThread::msleep(2000);
        QByteArray expected = kMainCode + kReadyRequest;
        for (const QByteArray &line : m_hex.split('\n').mid(0, kHeldAfter))
            expected += line.trimmed();
        QCOMPARE(everythingReceived(sim), expected);
    }

    // The hazard that the program avoids, shown on the same driver: a plain
    // shell's write and close under XOFF sit in the kernel's closing wait
    // (30 s by default for a 16550) before the held bytes are dropped.
    void plainCloseUnderXoffWaitsForTheKernel()
    {
        ControllerSimulator sim(controller());
        QVERIFY2(m_guest->connectUart(sim.slavePath()), qPrintable(m_guest->error()));
        const QString opened = m_guest->workFolder() + QStringLiteral("/plain.open");
        const QString go = m_guest->workFolder() + QStringLiteral("/plain.go");
        const QString job = m_guest->start(QStringLiteral(
            "exec 3<>%1\n"
            "stty -F %1 57600 raw ixon -ixany\n"
            "touch %2\n"
            "until [ -e %3 ]; do sleep 0.05; done\n"
            "printf 'held line\\r\\n' >&3\n"
            "read -r before _ < /proc/uptime\n"
            "exec 3>&-\n"
            "read -r after _ < /proc/uptime\n"
            "echo \"$before $after\"\n").arg(kUart, opened, go));
        QVERIFY(sim.waitUntil([&] { return QFile::exists(opened); }, 60000));
        sim.send(QByteArray(1, kXoff));
        QThread::msleep(500);
        QFile(go).open(QIODevice::WriteOnly);
        GuestJobResult run;
        QVERIFY2(m_guest->waitFor(job, 90, run), qPrintable(m_guest->error()));
        QVERIFY2(run.status == 0, qPrintable(run.output));
        const QStringList times = run.output.simplified().split(QLatin1Char(' '));
        QCOMPARE(times.size(), 2);
        const double closeSecs = times[1].toDouble() - times[0].toDouble();
        qInfo("A plain close under XOFF took %.1f s", closeSecs);
        QVERIFY2(closeSecs >= 25.0, qPrintable(run.output));
        QVERIFY(!everythingReceived(sim).contains("held line"));
    }

private:
    // Plugs in the adapter with serialNumber, wired to sim, into port (the
    // first free one when empty), and waits for udev to give it its stable
    // name.
    bool plugAdapter(const ControllerSimulator &sim, const QString &serialNumber, const QString &port = {})
    {
        if (!m_guest->plugAdapter(sim.slavePath(), serialNumber, port))
            return false;
        GuestJobResult appeared;
        const QString wait = QStringLiteral("for i in $(seq 300); do [ -e %1 ] && exit 0; sleep 0.1; done; exit 1")
                                 .arg(byIdName(serialNumber));
        if (!m_guest->run(wait, 60, appeared))
            return false;
        if (appeared.status != 0) {
            m_guest->run(QStringLiteral("ls -lR /dev/serial; ls -l /dev/ttyUSB*"), 30, appeared);
            qWarning("%s", qPrintable(appeared.output));
        }
        return appeared.status == 0;
    }

    // The environment of quobin-cli run on the host: its settings and data
    // in the run's folder, not the user's.
    QProcessEnvironment hostEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString home = m_guest->workFolder() + QStringLiteral("/host-home");
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        return env;
    }

    // Waits for the adapter with serialNumber to come up at QEMU's port (a
    // port of the hub on the controller's first port); the by-path link
    // that udev gives the socket there and the device it leads to, else what
    // the guest's /dev/serial holds.
    QStringList socketLink(const QString &serialNumber, const QString &port)
    {
        const QString pattern = QStringLiteral("/dev/serial/by-path/*-usb-0:%1:1.0-port0").arg(port);
        GuestJobResult found;
        const QString script = QStringLiteral(
            "for i in $(seq 300); do\n"
            "  adapter=$(readlink -f %1)\n"
            "  [ -e %1 ] && for link in %2; do\n"
            "    [ -e \"$link\" ] && [ \"$(readlink -f \"$link\")\" = \"$adapter\" ] && { echo \"$link\"; echo \"$adapter\"; exit 0; }\n"
            "  done\n"
            "  sleep 0.1\n"
            "done\n"
            "ls -lR /dev/serial; exit 1\n").arg(byIdName(serialNumber), pattern);
        if (!m_guest->run(script, 60, found))
            return {m_guest->error()};
        if (found.status != 0)
            return {QStringLiteral("no %1 leads to %2:").arg(pattern, serialNumber), found.output};
        return found.output.trimmed().split(QLatin1Char('\n'));
    }

    // resetWhenReady() for boards that a station flashes at once: the
    // reopen is timed by the cases of one port, not here.
    QString resetAllWhenReady(const QList<ControllerSimulator *> &sims, int mainCodeCommands)
    {
        QList<int> requestsBefore;
        for (ControllerSimulator *sim : sims) {
            if (!sim->waitUntil([&] { return sim->mainCodeCommands() >= mainCodeCommands; }, 60000))
                return QStringLiteral("main-code command %1 did not arrive: %2")
                    .arg(mainCodeCommands).arg(QString::fromLatin1(everythingReceived(*sim).right(200).toHex()));
            if (!sim->waitUntil([&] { return lineBaud(sim->slavePath()) == 57600; }, 30000))
                return QStringLiteral("the line did not change to 57600 baud");
            requestsBefore << sim->requestCount();
        }
        for (int reset = 0; reset < 5; ++reset) {
            QThread::msleep(700);
            QList<int> waiting;
            for (int i = 0; i < sims.size(); ++i)
                if (sims.at(i)->requestCount() <= requestsBefore.at(i))
                    waiting << i;
            if (waiting.isEmpty())
                return {};
            for (int i : waiting)
                sims.at(i)->sendActiveCharacter();
            for (int i : waiting)
                sims.at(i)->waitUntil([&] { return sims.at(i)->requestCount() > requestsBefore.at(i); }, 4000);
        }
        for (int i = 0; i < sims.size(); ++i)
            if (sims.at(i)->requestCount() <= requestsBefore.at(i))
                return QStringLiteral("no ready request from board %1 after five resets").arg(i + 1);
        return {};
    }

    // Starts an upload in the guest; its --log is kept for a failure's
    // message.
    QString upload(const QString &port)
    {
        const QString name = m_guest->workFolder() + QStringLiteral("/upload%1").arg(++m_uploads);
        m_log = name + QStringLiteral(".log");
        m_uploadPid = name + QStringLiteral(".pid");
        m_uploadJob = m_guest->start(QStringLiteral("echo $$ > %1\nexec %2 upload --json --on-error stop --log %3 --port %4 %5\n")
                                         .arg(m_uploadPid, m_cli, m_log, port, m_firmware));
        return m_uploadJob;
    }

    // What the last upload or station printed and logged.
    QByteArray told(const GuestJobResult &run) const
    {
        QFile log(m_log);
        log.open(QIODevice::ReadOnly);
        return (run.output + QStringLiteral("\n%1:\n").arg(m_log) + QString::fromUtf8(log.readAll().right(4000))).toLocal8Bit();
    }

    // Plays the operator who resets the controller once the program has
    // sent its mainCodeCommands-th main-code command and reopened the port
    // at the bootloader's speed, which it must do within kReopenLimitMsecs.
    // A reset is repeated when no request follows, as an operator would: a
    // "^" that comes before the program waits for it is rightly discarded.
    // Empty when a request came, else what went wrong.
    QString resetWhenReady(ControllerSimulator &sim, int mainCodeCommands = 1)
    {
        if (!sim.waitUntil([&] { return sim.mainCodeCommands() >= mainCodeCommands; }, 60000))
            return QStringLiteral("main-code command %1 did not arrive: %2")
                .arg(mainCodeCommands).arg(QString::fromLatin1(everythingReceived(sim).right(200).toHex()));
        // Timed from the simulator's read of the command's last bytes, the
        // last read at the main code's speed, so that a late look at the
        // line counts against the program, never for it.
        TimePoint commandEnd = SimClock::now();
        for (const auto &chunk : sim.receivedChunks()) {
            if (chunk.settings.baud == 9600)
                commandEnd = chunk.at;
        }
        if (!sim.waitUntil([&] { return lineBaud(sim.slavePath()) == 57600; }, 30000))
            return QStringLiteral("the line did not change to 57600 baud");
        const qint64 gap = std::chrono::duration_cast<std::chrono::milliseconds>(SimClock::now() - commandEnd).count();
        qInfo("The port was reopened at 57600 baud about %lld ms after the main-code command", gap);
        if (gap >= kReopenLimitMsecs)
            return QStringLiteral("the port was reopened at 57600 baud %1 ms after the main-code command, not within %2 ms: "
                                  "the close waited for a transmitter that does not report empty")
                .arg(gap).arg(kReopenLimitMsecs);
        const int requestsBefore = sim.requestCount();
        for (int reset = 0; reset < 5; ++reset) {
            QThread::msleep(700);
            sim.sendActiveCharacter();
            if (sim.waitUntil([&] { return sim.requestCount() > requestsBefore; }, 4000))
                return {};
        }
        return QStringLiteral("no ready request after five resets");
    }

    void uploadByteExact(ControllerSimulator &sim, const QString &port)
    {
        const QString job = upload(port);
        const QString ready = resetWhenReady(sim);
        QVERIFY2(ready.isEmpty(), qPrintable(ready));
        GuestJobResult run;
        QVERIFY2(m_guest->waitFor(job, 180, run), qPrintable(m_guest->error()));
        qInfo("%s: %.1f s in the guest", qPrintable(port), run.endedAt - run.startedAt);
        QVERIFY2(run.status == 0, told(run).constData());
        QCOMPARE(resultEvent(run.output).value(QStringLiteral("result")).toString(), QStringLiteral("success"));
        // The program sends each line as it stands, without its line end.
        QCOMPARE(everythingReceived(sim), kMainCode + kReadyRequest + QByteArray(m_hex).replace("\r\n", ""));
        const QString speeds = speedsOnTheWire(sim);
        QVERIFY2(speeds.isEmpty(), qPrintable(speeds));
    }

    // Pulls the adapter out under a running upload, which must then end
    // with exit 1 and a port or transfer error within 5 s of the guest's
    // kernel seeing the adapter go.
    void pullOutAndExpectAnError(const QString &job)
    {
        QVERIFY2(m_guest->unplugAdapter(kAdapterSerial), qPrintable(m_guest->error()));
        GuestJobResult run;
        QVERIFY2(m_guest->waitFor(job, 60, run), qPrintable(m_guest->error()));
        GuestJobResult kernelLog;
        QVERIFY2(m_guest->run(QStringLiteral("dmesg | grep 'USB disconnect' | tail -n 1"), 30, kernelLog),
                 qPrintable(m_guest->error()));
        static const QRegularExpression stamp(QStringLiteral("^\\[\\s*([0-9]+\\.[0-9]+)\\]"));
        const QRegularExpressionMatch pulledOut = stamp.match(kernelLog.output);
        QVERIFY2(pulledOut.hasMatch(), qPrintable(kernelLog.output));
        const double secs = run.endedAt - pulledOut.captured(1).toDouble();
        qInfo("The program ended %.2f s after the guest's kernel saw the adapter go", secs);
        QVERIFY2(run.status == 1, told(run).constData());
        const QString result = resultEvent(run.output).value(QStringLiteral("result")).toString();
        QVERIFY2(result == QLatin1String("port-error") || result == QLatin1String("transfer-error"), told(run).constData());
        QVERIFY2(secs <= 5.0, told(run).constData());
    }

    std::unique_ptr<GuestMachine> m_guest;
    int m_uploads = 0;
    QString m_uploadJob; // the last upload's job, its --log and its process id
    QString m_log;
    QString m_uploadPid;
    QString m_cli;
    QString m_firmware;
    QByteArray m_hex;
};

QTEST_GUILESS_MAIN(RealDriversTest)
#include "tst_real_drivers.moc"
