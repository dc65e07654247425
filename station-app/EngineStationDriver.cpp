#include "EngineStationDriver.h"

#include "SlotNames.h"

#include "FirmwareImage.h"
#include "LivePublisher.h"
#include "LiveWriter.h"
#include "OperatorReason.h"
#include "PortNames.h"
#include "RecordJson.h"
#include "RecordStore.h"
#include "Station.h"
#include "StationJob.h"
#include "StationObservers.h"
#include "SerialPlace.h"
#include "SerialSpec.h"
#include "StationSerials.h"
#include "StationWindow.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>

#include <cstdio>
#include <stdexcept>

namespace quobin {

namespace {

SlotState viewState(station::SlotState state)
{
    switch (state) {
    case station::SlotState::NoAdapter:
    case station::SlotState::PortTrouble:
        return SlotState::NoAdapter;
    // The window runs no approved job yet, so no slot of its waits for a
    // board's ID; should one, it is waiting all the same.
    case station::SlotState::Waiting:
    case station::SlotState::WaitingForId:
        return SlotState::Waiting;
    case station::SlotState::Noisy:
        return SlotState::Noisy;
    case station::SlotState::Flashing:
        return SlotState::Flashing;
    case station::SlotState::Passed:
        return SlotState::Pass;
    case station::SlotState::Failed:
        return SlotState::Fail;
    case station::SlotState::Unsaved:
        return SlotState::Unsaved;
    case station::SlotState::Stopped:
        return SlotState::Stopped;
    }
    return SlotState::Stopped;
}

} // namespace

EngineStationDriver::EngineStationDriver(QStringList linkFolders, station::PortFactory openPort,
                                         QString quobinVersion, QObject *parent)
    : StationDriver(parent),
      m_linkFolders(std::move(linkFolders)),
      m_openPort(std::move(openPort)),
      m_quobinVersion(std::move(quobinVersion))
{
}

EngineStationDriver::~EngineStationDriver()
{
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
    }
}

station::SlotAddress EngineStationDriver::slotAddressFor(const QString &port, const QStringList &linkFolders)
{
    station::SlotAddress address = station::slotNamed(port, linkFolders);
    if (!address.label.startsWith(QLatin1String("Com ")))
        address.label = StationWindow::slotLabel(port);
    return address;
}

void EngineStationDriver::start(const StationSetup &setup, records::RecordStore &store)
{
    if (m_thread && m_thread->isRunning())
        throw std::runtime_error("The station is running already.");
    m_thread.reset();
    try {
        m_job = std::make_unique<station::StationJob>(station::StationJob::read(setup.jobPath));
    } catch (const FirmwareFileError &e) {
        throw std::runtime_error(QStringLiteral("The job file cannot be read: %1").arg(QString::fromStdString(e.what())).toStdString());
    }

    prepareSerials(setup);

    station::StationSetup stationSetup;
    stationSetup.serials = m_serials.get();
    for (const QString &port : setup.ports)
        stationSetup.slotAddresses.append(slotAddressFor(port, m_linkFolders));
    stationSetup.stationName = setup.stationName.isEmpty() ? QSysInfo::machineHostName() : setup.stationName;
    stationSetup.quobinVersion = m_quobinVersion;
    stationSetup.policy = station::ErrorPolicy::Stop;

    {
        QMutexLocker lock(&m_mutex);
        m_views.clear();
        m_boardTimers.clear();
        m_reasons.clear();
        for (const station::SlotAddress &address : std::as_const(stationSetup.slotAddresses)) {
            SlotView view;
            view.label = address.label;
            view.state = SlotState::Waiting;
            m_views.append(view);
            m_boardTimers.append(QElapsedTimer());
            m_reasons.append(QString());
        }
        m_totals = RunTotals{};
        m_totals.jobName = m_job->fileName();
        m_totals.jobSha256 = m_job->sha256();
        if (m_serials) {
            const std::optional<quint64> next = m_serialPool->next();
            m_totals.nextSerial = m_serials->format.series + QLatin1Char(' ')
                + (next ? QString::number(*next) : QStringLiteral("-"));
        }
    }
    m_cancel = false;
    // The live view goes where the records go, as for quobin-cli station.
    std::shared_ptr<records::LiveWriter> liveView = records::LiveWriter::forTarget(setup.recordsTarget);
    m_thread.reset(QThread::create([this, stationSetup, &store, liveView] {
        QStringList slotNames;
        for (const station::SlotAddress &address : stationSetup.slotAddresses)
            slotNames << address.label;
        station::LivePublisher publisher(*liveView, {stationSetup.stationName, slotNames, {}, {}, m_job->fileName()},
                                         [this](const QString &text) { warning(text); });
        station::StationObservers observers({this, &publisher});
        station::Station station(stationSetup, *m_job, store, observers, m_openPort);
        const station::Station::End end = station.run([this] { return m_cancel.load(); });
        publisher.finish();
        QString problem = end == station::Station::End::Failed ? station.failure() : QString();
        // Stop while records were still retried: say where they are.
        const QList<records::BoardRecord> unsaved = station.unsavedRecords();
        if (!unsaved.isEmpty()) {
            const QString where = QFileInfo::exists(station.sideFile())
                ? QStringLiteral("%1 records are not saved in %2 yet; they are kept in %3 and saved at the next start.")
                      .arg(unsaved.size()).arg(store.describe(), station.sideFile())
                : QStringLiteral("%1 records could not be saved in %2 or beside it; they are written to the "
                                 "program's error output.").arg(unsaved.size()).arg(store.describe());
            for (const records::BoardRecord &record : unsaved)
                std::fprintf(stderr, "%s\n",
                             QJsonDocument(records::recordJson(record)).toJson(QJsonDocument::Compact).constData());
            problem = problem.isEmpty() ? where : problem + QLatin1Char('\n') + where;
        }
        emit ended(problem);
    }));
    m_thread->start();
}

void EngineStationDriver::prepareSerials(const StationSetup &setup)
{
    m_serials.reset();
    m_serialPool.reset();
    m_serialSource = {};
    if (setup.serialSpec.isEmpty())
        return;
    const auto refuse = [&](const QString &why) {
        throw std::runtime_error(QStringLiteral("Serial numbers %1: %2").arg(setup.serialSpec, why).toStdString());
    };
    std::optional<SerialSpec> format;
    std::optional<SerialPlace> place;
    try {
        format = SerialSpec::parse(setup.serialSpec);
        place = SerialPlace::find(*m_job->image(), format->address, format->width);
    } catch (const SerialSpecError &e) {
        refuse(QString::fromStdString(e.what()));
    } catch (const SerialPlaceError &e) {
        refuse(QString::fromStdString(e.what()));
    }
    const records::SeriesRule rule{format->series, format->first, format->step, format->last()};
    try {
        m_serialSource = records::openSerialSource(setup.recordsTarget, rule);
        m_serialPool = std::make_unique<records::SerialPool>(*m_serialSource.counter, rule, m_serialSource.sizes);
        m_serialPool->prepare();
    } catch (const records::SerialsRunOut &e) {
        refuse(QString::fromStdString(e.what()));
    } catch (const records::RecordStoreError &e) {
        refuse(e.reason());
    }
    m_serials.reset(new station::StationSerials{*format, *place, *m_serialPool});
}

void EngineStationDriver::serials(int slot, std::optional<quint64> inProgress, std::optional<quint64> last)
{
    QMutexLocker lock(&m_mutex);
    if (slot < 0 || slot >= m_views.size())
        return;
    SlotView &view = m_views[slot];
    view.serial = inProgress ? QString::number(*inProgress) : QString();
    view.lastSerial = last ? QString::number(*last) : QString();
    emit slotChanged(slot, view);
}

void EngineStationDriver::nextSerial(std::optional<quint64> number)
{
    QMutexLocker lock(&m_mutex);
    if (!m_serials)
        return;
    m_totals.nextSerial = m_serials->format.series + QLatin1Char(' ')
        + (number ? QString::number(*number) : QStringLiteral("-"));
    emit totalsChanged(m_totals);
}

void EngineStationDriver::requestStop()
{
    m_cancel = true;
}

bool EngineStationDriver::boardsInProgress() const
{
    QMutexLocker lock(&m_mutex);
    return std::any_of(m_views.cbegin(), m_views.cend(),
                       [](const SlotView &view) { return view.state == SlotState::Flashing; });
}

void EngineStationDriver::boardStarted(int slot)
{
    QMutexLocker lock(&m_mutex);
    if (slot < 0 || slot >= m_views.size())
        return;
    SlotView &view = m_views[slot];
    view.state = SlotState::Flashing;
    view.percent = 0;
    view.secondsLeft = -1;
    view.reason.clear();
    m_boardTimers[slot].start();
    emit slotChanged(slot, view);
}

void EngineStationDriver::slotStatus(int slot, station::SlotState state, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    if (slot < 0 || slot >= m_views.size())
        return;
    SlotView &view = m_views[slot];
    const SlotState shown = viewState(state);
    // A board being flashed keeps its progress while the engine's status
    // texts come and go.
    if (shown == SlotState::Flashing && view.state == SlotState::Flashing)
        return;
    // A board's result stays on its tile while the slot waits for the next
    // board: the operator looks up after the board has been swapped.
    if (shown == SlotState::Waiting && (view.state == SlotState::Pass || view.state == SlotState::Fail))
        return;
    view.state = shown;
    view.reason.clear();
    if (state == station::SlotState::Failed) {
        view.reason = text;
        if (view.reason.startsWith(QLatin1String("FAIL ")))
            view.reason.remove(0, 5);
        // A board that Stop cancelled did not fail.
        if (view.reason == QLatin1String("cancelled")) {
            view.state = SlotState::Cancelled;
            view.reason.clear();
        }
        // The board's record came first: its reason in the operator's words.
        if (view.state == SlotState::Fail && !m_reasons[slot].isEmpty())
            view.reason = m_reasons[slot];
    }
    emit slotChanged(slot, view);
}

void EngineStationDriver::progress(int slot, int sent, int total)
{
    QMutexLocker lock(&m_mutex);
    if (slot < 0 || slot >= m_views.size() || total <= 0)
        return;
    SlotView &view = m_views[slot];
    const int percent = int(qint64(sent) * 100 / total);
    // The time left from the pace so far, once there is a pace to go by.
    const qint64 elapsed = m_boardTimers[slot].isValid() ? m_boardTimers[slot].elapsed() : 0;
    const int secondsLeft = sent > 0 && elapsed > 500 ? int(elapsed * (total - sent) / sent / 1000) : -1;
    if (view.state == SlotState::Flashing && view.percent == percent && view.secondsLeft == secondsLeft)
        return;
    view.state = SlotState::Flashing;
    view.percent = percent;
    view.secondsLeft = secondsLeft;
    emit slotChanged(slot, view);
}

void EngineStationDriver::recorded(int slot, const records::BoardRecord &record, const station::StationCounts &counts)
{
    {
        QMutexLocker lock(&m_mutex);
        if (slot < 0 || slot >= m_views.size())
            return;
        SlotView &view = m_views[slot];
        // A no-response is counted apart from the boards, in the header.
        if (record.passed())
            ++view.passed;
        else if (!record.cancelled() && record.result != QLatin1String("no-response"))
            ++view.failed;
        m_reasons[slot] = operatorReason(record, QFileInfo::exists(record.device));
        emit slotChanged(slot, view);
    }
    publishTotals(counts);
    emit boardEnded(slot, record.passed());
}

void EngineStationDriver::warning(const QString &text)
{
    emit notice(text);
}

void EngineStationDriver::recordsWaiting(int count, const QString &reason)
{
    if (count <= 0) {
        emit notice(QString());
        return;
    }
    QString text = QStringLiteral("%1 records waiting for the server").arg(count);
    if (!reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    emit notice(text);
}

void EngineStationDriver::tick(const station::StationCounts &counts)
{
    publishTotals(counts);
}

void EngineStationDriver::publishTotals(const station::StationCounts &counts)
{
    QMutexLocker lock(&m_mutex);
    RunTotals totals = m_totals;
    totals.passed = counts.passed;
    totals.failed = counts.failed;
    totals.firstPassYield = counts.boards() > 0 ? 100.0 * counts.firstPassYield() : -1;
    totals.boardsPerHour = counts.boardsPerHour();
    totals.noResponse = counts.noResponse;
    if (totals.passed == m_totals.passed && totals.failed == m_totals.failed && totals.noResponse == m_totals.noResponse
        && qAbs(totals.boardsPerHour - m_totals.boardsPerHour) < 0.5)
        return;
    m_totals = totals;
    emit totalsChanged(totals);
}

} // namespace quobin
