#include "Slot.h"

#include "BoardIdSource.h"
#include "BoardLog.h"
#include "Clock.h"
#include "ClosePortIfOpen.h"
#include "NetworkPortAddress.h"
#include "PortDescription.h"
#include "PortNames.h"
#include "RecordFilter.h"
#include "RecordKeeper.h"
#include "RecordSchema.h"
#include "RecordStore.h"
#include "RunControl.h"
#include "SerialError.h"
#include "SerialPlace.h"
#include "SerialPort.h"
#include "SlotNames.h"
#include "UsbLocation.h"
#include "UsbSocketTree.h"
#include "StationJob.h"
#include "StationSerials.h"
#include "UploadProcedure.h"
#include "UploadResultName.h"

#include <QFileInfo>
#include <QThread>

#include <optional>

namespace quobin::station {

namespace {

// How often a slot without its device looks for it again.
constexpr int kAdapterPollMsecs = 200;
// How long a slot whose device cannot be opened waits before it tries again.
constexpr int kPortRetryMsecs = 1000;
// The longest a pause sleeps before it looks at the station again.
constexpr int kPauseStepMsecs = 50;
// How often a slot tries again to commit a record that the store refused.
constexpr int kRecordRetryMsecs = 1000;
// How long one ask for a board ID waits before the slot looks at the
// station and the job again.
constexpr int kBoardIdStepMsecs = 200;

// After a no-response the line must stay quiet this long before the next
// "^" counts as a new board; it doubles with each no-response in a row, up
// to the most. A board that resets itself over and over, or a line that
// picks up noise, then makes a record now and then, not a dozen a second.
constexpr int kQuietLineMsecs = 1000;
constexpr int kMostQuietLineMsecs = 32'000;
// How often the quiet wait looks at the station.
constexpr int kQuietStepMsecs = 100;

const QString kByIdFolder = QStringLiteral("/dev/serial/by-id");

} // namespace

struct Slot::Attempt {
    UploadOutcome outcome;
    bool started = false;
    bool questionCancelled = false;
    QDateTime startedAt;
    float bootloaderVersion = 0;
    QString logPath;
    QString logProblem; // why the board's byte log is incomplete or missing
};

Slot::Slot(int index, SlotAddress address, SlotServices services, Clock &clock)
    : m_index(index), m_address(std::move(address)), m_services(std::move(services)), m_clock(clock)
{
    // A run on a file: the station's job, which outlives the slot.
    m_board.job = std::shared_ptr<const StationJob>(std::shared_ptr<const StationJob>(), &m_services.job);
    m_board.policy = m_services.policy;
}

void Slot::run()
{
    bool mainCodeDue = true;
    while (!ending()) {
        // No more IDs, and none in hand: this slot is done; the others
        // finish the boards they have.
        if (m_services.boardIds && m_services.boardIds->closed(m_index) && m_boardId.isEmpty()) {
            m_services.control.noMoreBoardIds();
            break;
        }
        const QString device = resolveDevice();
        if (device.isEmpty()) {
            show(SlotState::NoAdapter, QStringLiteral("no adapter"));
            // Another adapter may come back under the same device name (a
            // swap in the same socket): described afresh.
            m_describedDevice.clear();
            m_services.control.clearTrouble(m_index);
            mainCodeDue = true;
            pause(kAdapterPollMsecs);
            continue;
        }
        // Trouble is noted again if this attempt cannot open the port either.
        m_services.control.clearTrouble(m_index);
        if (m_services.jobs) {
            bool stop = false;
            if (!takeJob(stop)) {
                if (stop)
                    break;
                continue;
            }
        }
        // The board's ID first: only this slot waits for it.
        if (m_board.wantsBoardIds() || !m_boardId.isEmpty()) {
            const bool hadId = !m_boardId.isEmpty();
            bool stop = false;
            if (!takeBoardId(stop)) {
                if (stop)
                    break;
                continue;
            }
            // An ID scanned is a new board in the fixture: it may have said
            // "^" while the slot waited for the ID, so the main-code
            // command puts it into its bootloader again.
            if (!hadId && !m_boardId.isEmpty())
                mainCodeDue = true;
        }
        std::optional<quint64> serial;
        if (m_services.serials) {
            bool stop = false;
            serial = takeSerial(stop);
            if (stop)
                break;
            if (!serial)
                continue;
        }
        const Attempt attempt = attemptBoard(device, mainCodeDue, serial);
        if (attempt.outcome.kind != UploadOutcome::Kind::PortError)
            m_opened = true;
        if (attempt.started) {
            mainCodeDue = false;
            record(device, attempt, serial);
            dropBoardId();
            if (attempt.outcome.kind == UploadOutcome::Kind::NoResponse) {
                ++m_noResponses;
                awaitQuietLine(device);
            } else {
                m_noResponses = 0;
            }
            continue;
        }
        // No board came: its number waits for the next.
        endSerial(serial, false);
        if (ending())
            break;
        // No board came, and nobody asked to stop: the device went away, or
        // it cannot be opened, or it failed while the slot waited. The next
        // look tells which; a device that keeps failing is not tried in a
        // tight loop.
        if (!resolveDevice().isEmpty() && attempt.outcome.kind == UploadOutcome::Kind::PortError) {
            const QString reason = attempt.outcome.detail.isEmpty() ? attempt.outcome.message
                                                                   : attempt.outcome.detail;
            const QString text = QStringLiteral("cannot use %1: %2").arg(device, reason);
            show(SlotState::PortTrouble, text);
            // A slot that has never opened its device may make the whole
            // station unusable; one that has worked in this run only has
            // trouble for now (a device going away, another program on it),
            // shows it and tries again.
            if (!m_opened)
                m_services.control.setTrouble(m_index, m_address.label + QStringLiteral(" ") + text);
            pause(kPortRetryMsecs);
        } else {
            pause(kAdapterPollMsecs);
        }
    }
    dropBoardId();
    show(SlotState::Stopped, QStringLiteral("stopped"));
}

int Slot::quietMsecsNeeded() const
{
    int msecs = kQuietLineMsecs;
    for (int i = 1; i < m_noResponses && msecs < kMostQuietLineMsecs; ++i)
        msecs *= 2;
    return qMin(msecs, kMostQuietLineMsecs);
}

// Listens on the line at the bootloader's settings until nothing has come
// for the quiet time. A "^" heard meanwhile is the same chattering line, not
// a new board: it starts the quiet time again, and the slot says the line is
// noisy. A second no-response in a row is noisy even when the line then
// falls quiet at once.
void Slot::awaitQuietLine(const QString &device)
{
    const int quietMsecs = quietMsecsNeeded();
    if (m_noResponses > 1)
        show(SlotState::Noisy, QStringLiteral("line noisy"));
    try {
        const std::unique_ptr<SerialPort> port = m_services.openPort(device);
        port->setHandshaking(SerialPort::XonXoff);
        port->setSettings(QStringLiteral("57600,n,8,1"));
        port->setCommPort(1);
        port->setPortOpen(true);
        qint64 quietSince = m_clock.msecsNow();
        while (!ending()) {
            const qint64 quietFor = m_clock.msecsNow() - quietSince;
            if (quietFor >= quietMsecs)
                break;
            port->waitForInput(int(qMin<qint64>(kQuietStepMsecs, quietMsecs - quietFor)));
            if (!port->input().isEmpty()) {
                quietSince = m_clock.msecsNow();
                show(SlotState::Noisy, QStringLiteral("line noisy"));
            }
        }
        ClosePortIfOpen(*port);
    } catch (const SerialError &) {
        // The device went away or cannot be opened: the board loop finds
        // out and says so.
    }
}

// The device behind the slot's path now; empty when it is missing. A serial
// server's address, named or held by a Com link, is always there: whether
// the server answers, the open tells.
QString Slot::resolveDevice() const
{
    return deviceReachedBy(m_address.path);
}

bool Slot::ending() const
{
    return m_services.control.finishing() || m_services.control.cancelled();
}

void Slot::show(SlotState state, const QString &text)
{
    if (state == m_shown && text == m_shownText)
        return;
    m_shown = state;
    m_shownText = text;
    m_services.observer.slotStatus(m_index, state, text);
}

// Sleeps msecs unless the station ends first; false when it does.
bool Slot::pause(int msecs)
{
    for (int slept = 0; slept < msecs && !ending(); slept += kPauseStepMsecs)
        QThread::msleep(qMin(kPauseStepMsecs, msecs - slept));
    return !ending();
}

// One run of the engine: from opening the port to a board's end, or to the
// end of the wait for one.
Slot::Attempt Slot::attemptBoard(const QString &device, bool sendMainCodeCommand, std::optional<quint64> serialNumber)
{
    // The window shows the states from here; a state the slot shows next is
    // news again.
    m_shown = SlotState::Flashing;
    m_shownText.clear();
    const std::unique_ptr<SerialPort> serial = m_services.openPort(device);
    std::unique_ptr<BoardLog> log;
    SerialPort *port = serial.get();
    QString logProblem;
    if (m_services.logs) {
        // A log that cannot be opened costs the board its log, not its
        // flashing: the board's record says so.
        try {
            log = m_services.logs->open(m_address.label, *serial);
            port = &log->port();
            log->note(QStringLiteral("station board on %1 (%2), image %3 SHA-256 %4")
                          .arg(m_address.label, device, m_board.job->path(), m_board.job->sha256()));
            if (!m_board.name.isEmpty())
                log->note(QStringLiteral("approved job %1 version %2").arg(m_board.name).arg(m_board.version));
            if (serialNumber)
                log->note(QStringLiteral("serial number %1 of series %2").arg(*serialNumber).arg(m_services.serials->format.series));
        } catch (const std::exception &error) {
            log.reset();
            logProblem = QStringLiteral("the board log cannot be opened: ") + QString::fromLocal8Bit(error.what());
        }
    }

    SlotWindow::Setup setup;
    setup.slot = m_index;
    setup.firmwarePath = m_board.job->path();
    setup.linesToSend = m_board.job->linesToSend();
    setup.policy = m_board.policy;
    // A new version approved while the slot waits for a board: the wait
    // ends, and the board that comes gets the new one.
    if (m_services.jobs)
        setup.stale = [this] { return !m_services.jobs->stillCurrent(m_board.version); };
    SlotWindow window(setup, *port, m_services.control, m_services.observer, log.get());

    UploadOptions options;
    options.image = m_board.job->image();
    if (serialNumber) {
        const StationSerials &serials = *m_services.serials;
        options.image = serialPlace().patched(*options.image, serials.format.encode(*serialNumber));
    }
    options.sendMainCodeCommand = sendMainCodeCommand;
    Attempt attempt;
    attempt.outcome = UploadProcedure(window, *port, m_clock, options).run();
    // A failure while setting up leaves the port as it was; the next board
    // opens it afresh.
    ClosePortIfOpen(*port);

    attempt.started = window.boardStarted();
    attempt.questionCancelled = window.questionCancelled();
    attempt.startedAt = window.startedAt();
    attempt.bootloaderVersion = window.bootloaderVersion();
    if (log) {
        const QString failure = log->failure();
        if (!attempt.started) {
            log->discard();
        } else if (failure.isEmpty()) {
            attempt.logPath = log->path();
        } else {
            // The part written before the failure still tells something; an
            // empty file tells nothing and is not pointed at.
            if (QFileInfo(log->path()).size() > 0)
                attempt.logPath = log->path();
            else
                log->discard();
            logProblem = QStringLiteral("the board log %1 is incomplete: %2").arg(log->path(), failure);
        }
    }
    if (attempt.started)
        attempt.logProblem = logProblem;
    return attempt;
}

// The record is committed before the slot shows the board's result: what
// the operator saw is in the store, whatever happens next.
void Slot::record(const QString &device, const Attempt &attempt, std::optional<quint64> serial)
{
    if (device != m_describedDevice) {
        // Described once per appearance of the device: listing the adapters
        // takes a while.
        m_describedDevice = device;
        const std::optional<DeviceDescription> description = describeDevice(device);
        m_usbSerial = description ? description->serialNumber : QString();
        const QString stable = stableDeviceName(device, kByIdFolder);
        m_byIdName = stable.startsWith(kByIdFolder + QLatin1Char('/')) ? stable : QString();
        // The socket: the slot's own when it is named by one, else the one
        // the device is plugged into now, if udev names it.
        m_socket = UsbSocketTree::socketBehind(m_address.path);
        if (m_socket.isEmpty() && portListTellsSockets() && UsbLocation::namesSocket(m_address.path))
            m_socket = m_address.path;
        if (m_socket.isEmpty())
            m_socket = UsbSocketTree().socketOf(device);
        if (m_socket.isEmpty() && description)
            m_socket = description->socket;  // where the list of ports tells it (Windows)
        if (m_usbSerial.isEmpty() && !m_socket.isEmpty())
            m_usbSerial = UsbSocketTree::of(m_socket).contentOf(m_socket).usbSerial;
    }

    records::BoardRecord record;
    record.id = QUuid::createUuid();
    record.station = m_services.stationName;
    record.slot = m_address.label;
    record.device = device;
    record.usbSerial = m_usbSerial;
    record.byIdName = m_byIdName;
    record.socket = m_socket;
    record.jobSha256 = m_board.job->sha256();
    record.jobFile = m_board.job->fileName();
    record.jobName = m_board.name;
    if (!m_board.name.isEmpty())
        record.jobVersion = m_board.version;
    record.boardId = m_boardId;
    record.reflash = m_reflash;
    record.started = attempt.startedAt;
    record.ended = QDateTime::currentDateTimeUtc();
    record.seconds = attempt.startedAt.msecsTo(record.ended) / 1000.0;
    record.bootloaderVersion = attempt.bootloaderVersion;
    const bool cancelled = attempt.outcome.kind == UploadOutcome::Kind::Cancelled || attempt.questionCancelled;
    record.result = cancelled ? QStringLiteral("cancelled") : resultName(attempt.outcome);
    record.message = attempt.outcome.message;
    record.detail = attempt.outcome.detail;
    record.linesSent = attempt.outcome.linesSent;
    record.resends = attempt.outcome.resends;
    for (const AnsweredQuestion &question : attempt.outcome.questions)
        record.questions.append({question.lineNumber, question.reason, question.answeredYes});
    record.quobinVersion = m_services.quobinVersion;
    record.logPath = attempt.logPath;
    if (serial) {
        record.series = m_services.serials->format.series;
        record.serial = serial;
        // The serial went out when every line that holds a byte of it was
        // taken by the controller, and every line before it.
        int lastSerialLine = 0;
        for (const SerialPiece &piece : serialPlace().pieces())
            lastSerialLine = qMax(lastSerialLine, piece.line);
        record.serialSent = attempt.outcome.linesTakenInOrder > lastSerialLine;
    }
    if (!attempt.logProblem.isEmpty()) {
        record.detail = record.detail.isEmpty() ? attempt.logProblem
                                                : record.detail + QStringLiteral("; ") + attempt.logProblem;
        if (!m_logTroubleWarned)
            m_services.observer.warning(m_address.label + QStringLiteral(": ") + attempt.logProblem);
        m_logTroubleWarned = true;
    } else {
        m_logTroubleWarned = false;
    }

    // The board is counted as it ended, whether or not its record has
    // reached the store yet: it was flashed (or not) all the same.
    // Likewise its serial number: a board that passed carries it, so it is
    // spent even while the record waits to be saved. The slot shows it as
    // its last once the record is in.
    spendSerial(serial, record.passed());
    const bool noResponse = attempt.outcome.kind == UploadOutcome::Kind::NoResponse && !cancelled;
    const StationCounts counts = noResponse ? m_services.control.countNoResponse()
                                            : m_services.control.countBoard(record.passed(), cancelled);
    if (!keep(record))
        return;

    m_services.observer.recorded(m_index, record, counts);
    if (serial)
        showSerials();
    if (record.passed()) {
        show(SlotState::Passed, QStringLiteral("PASS"));
    } else {
        QString reason = record.message;
        if (reason.isEmpty())
            reason = lineStoppedAt(attempt.outcome.questions);
        if (reason.isEmpty())
            reason = record.result;
        show(SlotState::Failed, QStringLiteral("FAIL ") + reason);
    }
    if (!attempt.logProblem.isEmpty())
        show(m_shown, m_shownText + QStringLiteral(" (no complete board log)"));
}

// Commits the record, or holds it and tries again until the store takes
// it: the slot takes no new board meanwhile. A station whose records can be
// kept nowhere (neither the store nor the side file can be written) takes no
// new board on any slot; the boards in progress still finish. Only a cancel
// ends the retries; the records still held are then the front end's to
// report. True when the record is in the store.
bool Slot::keep(const records::BoardRecord &record)
{
    QString reason;
    const RecordKeeper::Held held = m_services.keeper.keep(record, &reason);
    if (held == RecordKeeper::Held::Saved)
        return true;
    const QString where = held == RecordKeeper::Held::SideFile
        ? QStringLiteral("kept in %1 until then").arg(m_services.keeper.sideFile())
        : QStringLiteral("kept in memory only");
    m_services.observer.warning(QStringLiteral("%1: record not saved yet (%2): %3")
                                    .arg(m_address.label, where, reason));
    show(SlotState::Unsaved, QStringLiteral("record not saved yet"));
    if (held == RecordKeeper::Held::MemoryOnly)
        m_services.control.fail(QStringLiteral("the records can be kept neither in %1 nor beside it: %2")
                                    .arg(m_services.store.describe(), reason));
    while (m_services.keeper.holds(record.id)) {
        for (int slept = 0; slept < kRecordRetryMsecs && !m_services.control.cancelled(); slept += kPauseStepMsecs)
            QThread::msleep(kPauseStepMsecs);
        if (m_services.control.cancelled())
            return false;
        m_services.keeper.retry();
    }
    return true;
}

const SerialPlace &Slot::serialPlace() const
{
    return m_board.serialPlace ? *m_board.serialPlace : m_services.serials->place;
}

bool Slot::takeBoardId(bool &stop)
{
    // An ID in hand from an earlier try whose board did not come stays the
    // board's, as long as the job still asks for IDs.
    if (!m_boardId.isEmpty()) {
        if (m_board.wantsBoardIds())
            return true;
        dropBoardId();
        return true;
    }
    if (!m_services.boardIds) {
        const QString reason = QStringLiteral("job %1 version %2 asks for each board's ID, and this run reads none:"
                                              " start the station again (quobin-cli station reads them on standard"
                                              " input)")
                                   .arg(m_board.name).arg(m_board.version);
        m_services.control.fail(reason);
        stop = true;
        return false;
    }
    show(SlotState::WaitingForId, QStringLiteral("waiting for board ID"));
    m_services.observer.boardIdWanted(m_index);
    while (!ending()) {
        // A new version of the job may ask otherwise: the slot takes it
        // first.
        if (m_services.jobs && !m_services.jobs->stillCurrent(m_board.version)) {
            m_services.boardIds->stopWaiting(m_index);
            return false;
        }
        const std::optional<QString> id = m_services.boardIds->take(m_index, kBoardIdStepMsecs);
        if (!id) {
            if (m_services.boardIds->closed(m_index)) {
                m_services.boardIds->stopWaiting(m_index);
                m_services.control.noMoreBoardIds();
                stop = true;
                return false;
            }
            continue;
        }
        const QString reason = refusalOf(*id);
        if (!reason.isEmpty()) {
            m_services.observer.boardIdRefused(m_index, *id, reason);
            show(SlotState::WaitingForId, QStringLiteral("refused %1: %2; waiting for board ID").arg(*id, reason));
            continue;
        }
        m_boardId = *id;
        m_services.boardIds->stopWaiting(m_index);
        m_services.observer.boardIdTaken(m_index, m_boardId, m_reflash);
        return true;
    }
    m_services.boardIds->stopWaiting(m_index);
    stop = true;
    return false;
}

QString Slot::refusalOf(const QString &id)
{
    m_reflash = false;
    if (!m_board.boardIdRule.match(id).hasMatch())
        return QStringLiteral("it does not match the job's rule %1").arg(m_board.boardIdRule.pattern());
    records::RecordFilter passes;
    passes.results = records::RecordFilter::Results::Passed;
    passes.boardId = id;
    QList<records::BoardRecord> passed;
    try {
        passed = m_services.store.matching(passes);
    } catch (const records::RecordStoreError &error) {
        // Unknown whether it passed: not flashed blindly.
        return QStringLiteral("its history cannot be read: ") + error.reason();
    }
    if (!passed.isEmpty() && !m_board.reflashAllowed) {
        const records::BoardRecord &last = passed.constLast();
        QString where = QStringLiteral("station %1, slot %2, %3").arg(last.station, last.slot, records::schema::timeText(last.ended));
        if (last.serial)
            where += QStringLiteral(", serial %1 %2").arg(last.series).arg(*last.serial);
        return QStringLiteral("it passed already (%1%2); the job allows no re-flash")
            .arg(where, passed.size() > 1 ? QStringLiteral(", and %1 times before").arg(passed.size() - 1) : QString());
    }
    if (!m_services.control.claimBoardId(id))
        return QStringLiteral("another slot of this station has that ID for its board");
    m_reflash = !passed.isEmpty();
    return {};
}

void Slot::dropBoardId()
{
    if (m_boardId.isEmpty())
        return;
    m_services.control.releaseBoardId(m_boardId);
    m_boardId.clear();
    m_reflash = false;
}

bool Slot::takeJob(bool &stop)
{
    try {
        m_board = m_services.jobs->next();
        return true;
    } catch (const JobStopped &stopped) {
        m_services.control.fail(stopped.reason());
        show(SlotState::Stopped, stopped.reason());
        stop = true;
    } catch (const records::RecordStoreError &error) {
        show(SlotState::Waiting, QStringLiteral("cannot read the job: ") + error.reason());
        stop = !pause(kPortRetryMsecs);
    }
    return false;
}

std::optional<quint64> Slot::takeSerial(bool &stop)
{
    records::SerialAllocator &allocator = m_services.serials->allocator;
    const records::SerialAllocator::Take take = allocator.take();
    if (take.number) {
        m_services.observer.serials(m_index, take.number, m_lastSerial);
        m_services.observer.nextSerial(allocator.next());
        return take.number;
    }
    if (take.runOut) {
        m_services.control.fail(take.problem);
        stop = true;
        return std::nullopt;
    }
    show(SlotState::Waiting, take.problem);
    stop = !pause(kPortRetryMsecs);
    return std::nullopt;
}

void Slot::endSerial(std::optional<quint64> serial, bool passed)
{
    if (!serial)
        return;
    spendSerial(serial, passed);
    showSerials();
}

void Slot::spendSerial(std::optional<quint64> serial, bool passed)
{
    if (!serial)
        return;
    records::SerialAllocator &allocator = m_services.serials->allocator;
    if (passed) {
        allocator.passed(*serial);
        m_lastSerial = serial;
    } else {
        allocator.failed(*serial);
    }
}

// No board in progress on the slot, its last good board's number, and the
// series' next.
void Slot::showSerials()
{
    m_services.observer.serials(m_index, std::nullopt, m_lastSerial);
    m_services.observer.nextSerial(m_services.serials->allocator.next());
}

} // namespace quobin::station
