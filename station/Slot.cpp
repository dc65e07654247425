#include "Slot.h"

#include "BoardLog.h"
#include "Clock.h"
#include "ClosePortIfOpen.h"
#include "PortDescription.h"
#include "RecordStore.h"
#include "RunControl.h"
#include "SerialPort.h"
#include "StationJob.h"
#include "UploadProcedure.h"
#include "UploadResultName.h"

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

const QString kByIdFolder = QStringLiteral("/dev/serial/by-id");

} // namespace

struct Slot::Attempt {
    UploadOutcome outcome;
    bool started = false;
    bool questionCancelled = false;
    QDateTime startedAt;
    float bootloaderVersion = 0;
    QString logPath;
};

Slot::Slot(int index, SlotAddress address, SlotServices services, Clock &clock)
    : m_index(index), m_address(std::move(address)), m_services(std::move(services)), m_clock(clock)
{
}

void Slot::run()
{
    bool mainCodeDue = true;
    while (!ending()) {
        const QString device = resolveDevice();
        if (device.isEmpty()) {
            show(SlotState::NoAdapter, QStringLiteral("no adapter"));
            m_services.control.clearTrouble(m_index);
            mainCodeDue = true;
            pause(kAdapterPollMsecs);
            continue;
        }
        // Trouble is noted again if this attempt cannot open the port either.
        m_services.control.clearTrouble(m_index);
        Attempt attempt;
        try {
            attempt = attemptBoard(device, mainCodeDue);
        } catch (const std::exception &error) {
            m_services.control.fail(QStringLiteral("the board logs cannot be written: %1")
                                        .arg(QString::fromLocal8Bit(error.what())));
            break;
        }
        if (attempt.outcome.kind != UploadOutcome::Kind::PortError)
            m_opened = true;
        if (attempt.started) {
            mainCodeDue = false;
            record(device, attempt);
            continue;
        }
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
    show(SlotState::Stopped, QStringLiteral("stopped"));
}

// The device behind the slot's path now; empty when it is missing.
QString Slot::resolveDevice() const
{
    return presentSerialDevice(m_address.path);
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
Slot::Attempt Slot::attemptBoard(const QString &device, bool sendMainCodeCommand)
{
    // The window shows the states from here; a state the slot shows next is
    // news again.
    m_shown = SlotState::Flashing;
    m_shownText.clear();
    const std::unique_ptr<SerialPort> serial = m_services.openPort(device);
    std::unique_ptr<BoardLog> log;
    SerialPort *port = serial.get();
    if (m_services.logs) {
        log = m_services.logs->open(m_address.label, *serial);
        port = &log->port();
        log->note(QStringLiteral("station board on %1 (%2), image %3 SHA-256 %4")
                      .arg(m_address.label, device, m_services.job.path(), m_services.job.sha256()));
    }

    SlotWindow::Setup setup;
    setup.slot = m_index;
    setup.firmwarePath = m_services.job.path();
    setup.linesToSend = m_services.job.linesToSend();
    setup.policy = m_services.policy;
    SlotWindow window(setup, *port, m_services.control, m_services.observer, log.get());

    UploadOptions options;
    options.image = m_services.job.image();
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
        if (attempt.started) {
            attempt.logPath = log->path();
        } else {
            log->discard();
        }
    }
    return attempt;
}

// The record is committed before the slot shows the board's result: what
// the operator saw is in the store, whatever happens next.
void Slot::record(const QString &device, const Attempt &attempt)
{
    if (device != m_describedDevice) {
        // Described once per appearance of the device: listing the adapters
        // takes a while.
        m_describedDevice = device;
        const std::optional<DeviceDescription> description = describeDevice(device);
        m_usbSerial = description ? description->serialNumber : QString();
        const QString stable = stableDeviceName(device, kByIdFolder);
        m_byIdName = stable.startsWith(kByIdFolder + QLatin1Char('/')) ? stable : QString();
    }

    records::BoardRecord record;
    record.id = QUuid::createUuid();
    record.station = m_services.stationName;
    record.slot = m_address.label;
    record.device = device;
    record.usbSerial = m_usbSerial;
    record.byIdName = m_byIdName;
    record.jobSha256 = m_services.job.sha256();
    record.jobFile = m_services.job.fileName();
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

    try {
        m_services.store.commit(record);
    } catch (const records::RecordStoreError &error) {
        m_services.control.fail(QStringLiteral("the records cannot be written to %1: %2")
                                    .arg(m_services.store.describe(), error.reason()));
        show(SlotState::Failed, QStringLiteral("not recorded"));
        return;
    }
    const StationCounts counts = m_services.control.countBoard(record.passed(), cancelled);
    m_services.observer.recorded(m_index, record, counts);
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
}

} // namespace quobin::station
