#include "Station.h"

#include "Clock.h"
#include "JobSupply.h"
#include "RecordStore.h"
#include "StationJob.h"
#include "StationSerials.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace quobin::station {

namespace {

// How often the station looks at the cancel request and lets front ends redraw.
constexpr int kTickMsecs = 100;
// How often it looks at the job's file and at the records waiting for their server.
constexpr int kWatchMsecs = 1000;

} // namespace

Station::Station(StationSetup setup, const StationJob &job, records::RecordStore &store,
                 StationObserver &observer, PortFactory openPort, BoardLogFactory *logs)
    : m_setup(std::move(setup))
    , m_job(job)
    , m_store(store)
    , m_observer(observer)
    , m_openPort(std::move(openPort))
    , m_logs(logs)
    , m_control(m_setup.goodBoards, int(m_setup.slotAddresses.size()))
    , m_keeper(store, RecordKeeper::sideFileFor(store.localFile()))
{
}

Station::End Station::run(const std::function<bool()> &cancelRequested)
{
    // A file's job is watched on the disk; an approved job is read from the
    // database for every board, and looked at between boards.
    std::optional<JobFileWatch> jobWatch;
    if (!m_setup.jobs)
        jobWatch.emplace(m_job);
    // Records spooled for another server wait until a run names it again:
    // the operator hears of each, so that none is forgotten there.
    try {
        for (const records::SpoolWaiting &spool : m_store.spoolsForOtherServers())
            m_observer.warning(QStringLiteral("%1 records in the local spool wait for %2, not for this run's target; "
                                              "they are sent when a run names that server again")
                                   .arg(spool.count)
                                   .arg(spool.server));
    } catch (const records::RecordStoreError &error) {
        m_observer.warning(error.reason());
    }
    // Records that an earlier run could not commit go first.
    const int leftOver = m_keeper.loadLeftOver();
    if (leftOver > 0) {
        QString reason;
        if (m_keeper.retry(&reason))
            m_observer.warning(QStringLiteral("%1 records that an earlier run could not save are saved now").arg(leftOver));
        else
            m_observer.warning(QStringLiteral("%1 records that an earlier run could not save are still waiting in %2: %3")
                                   .arg(m_keeper.held().size()).arg(m_keeper.sideFile(), reason));
    }
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < m_setup.slotAddresses.size(); ++i) {
        SlotServices services{m_job, m_store, m_keeper, m_observer, m_control, m_openPort, m_logs,
                              m_setup.policy, m_setup.stationName, m_setup.quobinVersion};
        services.serials = m_setup.serials;
        services.jobs = m_setup.jobs;
        services.boardIds = m_setup.boardIds;
        threads.emplace_back(QThread::create([this, i, services] {
            SteadyClock clock;
            // An error nobody expected ends the run with its message
            // instead of the program: the other slots finish their boards.
            try {
                Slot(i, m_setup.slotAddresses[i], services, clock).run();
            } catch (const std::exception &error) {
                m_control.fail(QStringLiteral("%1: unexpected error: %2")
                                   .arg(m_setup.slotAddresses[i].label, QString::fromLocal8Bit(error.what())));
            } catch (...) {
                m_control.fail(QStringLiteral("%1: unexpected error").arg(m_setup.slotAddresses[i].label));
            }
        }));
        threads.back()->start();
    }

    QElapsedTimer sinceWatch;
    sinceWatch.start();
    for (const auto &thread : threads) {
        while (!thread->wait(QDeadlineTimer(kTickMsecs))) {
            if (cancelRequested())
                m_control.cancel();
            if (sinceWatch.elapsed() >= kWatchMsecs) {
                sinceWatch.restart();
                if (jobWatch) {
                    const QString warning = jobWatch->check();
                    if (!warning.isEmpty())
                        m_observer.warning(warning);
                } else {
                    lookAtJob();
                }
                watch();
            }
            m_observer.tick(m_control.counts());
        }
    }
    watch();
    if (m_setup.serials)
        m_setup.serials->allocator.finish();
    m_observer.tick(m_control.counts());

    if (!m_control.failure().isEmpty())
        return End::Failed;
    if (m_control.countReached() && !m_control.cancelled())
        return End::CountReached;
    if (m_control.boardIdsEnded() && !m_control.cancelled())
        return End::BoardIdsEnded;
    return End::Cancelled;
}

// A withdrawal, or bytes changed in the database, stop new boards on
// every slot, the waiting ones too; the boards in progress finish. A new
// version is noted, so that a slot waiting for a board takes it.
void Station::lookAtJob()
{
    try {
        m_setup.jobs->look();
        m_jobProblem.clear();
    } catch (const JobStopped &stopped) {
        if (m_control.failure().isEmpty())
            m_control.fail(stopped.reason());
    } catch (const records::RecordStoreError &error) {
        // The slots find out before their next board, and wait.
        if (error.reason() != m_jobProblem)
            m_observer.warning(QStringLiteral("cannot look at the job: ") + error.reason());
        m_jobProblem = error.reason();
    }
}

void Station::watch()
{
    const int waiting = m_store.waitingForServer();
    const QString problem = waiting > 0 ? m_store.serverProblem() : QString();
    if (waiting != m_recordsWaiting || problem != m_serverProblem) {
        m_recordsWaiting = waiting;
        m_serverProblem = problem;
        m_observer.recordsWaiting(waiting, problem);
    }
}

} // namespace quobin::station
