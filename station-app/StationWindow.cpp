#include "StationWindow.h"
#include "UsbLocation.h"
#include "UsbSocketTree.h"

#include "FileDropLineEdit.h"
#include "JobApproval.h"
#include "JobApprovalDialog.h"
#include "JobStore.h"
#include "RecordSchema.h"
#include "ScanKeys.h"
#include "MessageBoxes.h"
#include "RecordStore.h"
#include "RecordsPage.h"
#include "RunHeader.h"
#include "SetupPanel.h"
#include "SlotTile.h"
#include "Sounds.h"
#include "SpaceKeeper.h"
#include "StationDriver.h"
#include "TileGrid.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include "SlotChecklist.h"
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <exception>

namespace quobin {

StationWindow::StationWindow(StationWindowServices services, QString setupPath, QWidget *parent)
    : QWidget(parent),
      m_services(std::move(services)),
      m_setupPath(std::move(setupPath)),
      m_spaceKeeper(new SpaceKeeper(this)),
      m_scanKeys(new ScanKeys(this, [this] { return m_running && m_pages->currentWidget() == m_runPage && servedSlot() >= 0; },
                              this)),
      m_pages(new QTabWidget(this)),
      m_setup(new SetupPanel(m_services.fileDialog, [this] { return m_candidates = m_services.findSlots(); }, this)),
      m_runPage(new QWidget(this)),
      m_header(new RunHeader(m_runPage)),
      m_tiles(new TileGrid(m_runPage)),
      m_records(new RecordsPage({m_services.boxes, m_services.saveDialog, m_services.toCsv}, this)),
      m_startStop(new QPushButton(this)),
      m_sound(new QCheckBox(QStringLiteral("&Play tones"), this)),
      m_status(new QLabel(this))
{
    qRegisterMetaType<quobin::SlotView>();
    qRegisterMetaType<quobin::RunTotals>();
    setWindowTitle(title());
    setWindowIcon(QIcon(QStringLiteral(":/icons/quobin-station.png")));

    auto *runLayout = new QVBoxLayout(m_runPage);
    runLayout->setContentsMargins(4, 4, 4, 4);
    runLayout->setSpacing(4);
    runLayout->addWidget(m_header);
    runLayout->addWidget(m_tiles, 1);
    m_pages->addTab(m_setup, QStringLiteral("Set-&up"));
    m_pages->addTab(m_runPage, QStringLiteral("&Run"));
    m_pages->addTab(m_records, QStringLiteral("Recor&ds"));

    QFont buttonFont = m_startStop->font();
    buttonFont.setPointSize(14);
    buttonFont.setBold(true);
    m_startStop->setFont(buttonFont);
    m_startStop->setMinimumHeight(m_startStop->fontMetrics().height() * 3 / 2);
    m_startStop->setToolTip(QStringLiteral("Space"));
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_startStop);
    bottom->addWidget(m_sound);
    bottom->addWidget(m_status, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);
    layout->addWidget(m_pages, 1);
    layout->addLayout(bottom);

    // Space starts and stops wherever it has no meaning of its own.
    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    connect(space, &QShortcut::activated, this, &StationWindow::startOrStop);
    auto *quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    for (QWidget *control : {static_cast<QWidget *>(m_setup->slotList()), static_cast<QWidget *>(m_setup->browseButton()),
                             static_cast<QWidget *>(m_setup->refreshButton()), static_cast<QWidget *>(m_sound),
                             static_cast<QWidget *>(m_records->resultFilter()), static_cast<QWidget *>(m_records->slotFilter()),
                             static_cast<QWidget *>(m_records->reloadButton()), static_cast<QWidget *>(m_records->exportButton()),
                             static_cast<QWidget *>(m_records->newerButton()), static_cast<QWidget *>(m_records->olderButton()),
                             static_cast<QWidget *>(m_records->table()), static_cast<QWidget *>(m_setup->approvedJobList()),
                             static_cast<QWidget *>(m_setup->readJobsButton()), static_cast<QWidget *>(m_setup->approveButton()),
                             static_cast<QWidget *>(m_setup->withdrawButton())})
        m_spaceKeeper->keepFor(control);
    qApp->installEventFilter(m_scanKeys);
    connect(m_scanKeys, &ScanKeys::scanned, this, &StationWindow::onScanned);
    // Without a place to keep jobs, or a dialog, there is nothing to offer.
    m_setup->offerApprovedJobs(bool(m_services.openJobs), m_services.approvalDialog != nullptr);
    connect(m_setup, &SetupPanel::readJobsRequested, this, [this] { readJobs(); });
    connect(m_setup, &SetupPanel::approveRequested, this, &StationWindow::approveJob);
    connect(m_setup, &SetupPanel::withdrawRequested, this, &StationWindow::withdrawJob);
    connect(m_setup, &SetupPanel::approvedJobChosen, this, &StationWindow::showChosenJob);

    connect(m_startStop, &QPushButton::clicked, this, &StationWindow::startOrStop);
    connect(m_records, &RecordsPage::reloadRequested, this, &StationWindow::reloadRecords);
    connect(m_pages, &QTabWidget::currentChanged, this, [this](int index) {
        if (m_pages->widget(index) == m_records && !m_running)
            reloadRecords();
    });
    connect(m_setup, &SetupPanel::jobChanged, this, [this](const JobSummary &job) {
        if (m_setup->jobChosen())
            return;
        RunTotals totals;
        totals.jobName = job.name;
        totals.jobSha256 = job.sha256;
        m_header->setTotals(totals);
    });

    StationDriver &driver = m_services.driver;
    connect(&driver, &StationDriver::slotChanged, this, &StationWindow::onSlotChanged, Qt::QueuedConnection);
    connect(&driver, &StationDriver::totalsChanged, this, &StationWindow::onTotalsChanged, Qt::QueuedConnection);
    connect(&driver, &StationDriver::boardEnded, this, &StationWindow::onBoardEnded, Qt::QueuedConnection);
    connect(&driver, &StationDriver::notice, m_header, &RunHeader::setNotice, Qt::QueuedConnection);
    connect(&driver, &StationDriver::ended, this, &StationWindow::onEnded, Qt::QueuedConnection);

    const StationSetup setup = loadStationSetup(m_setupPath);
    m_setup->setSetup(setup);
    m_sound->setChecked(setup.sound);
    // The job picked last time is looked up again: it may have a new version.
    if (!setup.jobName.isEmpty() && m_services.openJobs)
        readJobs(true);
    showIdle();
}

StationWindow::~StationWindow()
{
    qApp->removeEventFilter(m_scanKeys);
}


QString StationWindow::slotLabel(const QString &port)
{
    // A socket's long by-path name, short enough to be read from afar.
    if (UsbSocketTree::namesSocket(port))
        return UsbSocketTree::shortName(port);
    // A socket as Windows locates it, PCIROOT(0)#...#USB(4).
    if (UsbLocation::namesSocket(port))
        return UsbLocation::shortName(port);
    if (port.contains(QLatin1Char('/')))
        return QFileInfo(port).fileName();
    return port;
}

void StationWindow::startOrStop()
{
    if (m_stopping)
        return;
    if (m_running)
        stop();
    else
        start();
}

void StationWindow::start()
{
    const StationSetup setup = [this] {
        StationSetup s = m_setup->setup();
        s.sound = m_sound->isChecked();
        return s;
    }();
    // The file may have changed since it was named, or its name been typed
    // without leaving the box. An approved job is read and checked by the
    // station itself.
    const JobSummary job = setup.jobName.isEmpty() ? m_setup->checkJob() : JobSummary{};
    if (setup.jobName.isEmpty() && !job.usable()) {
        warn(QStringLiteral("The job file cannot be flashed:\n") + job.problems.join(QLatin1Char('\n')));
        m_pages->setCurrentWidget(m_setup);
        return;
    }
    if (setup.ports.isEmpty()) {
        warn(QStringLiteral("Tick at least one slot."));
        m_pages->setCurrentWidget(m_setup);
        return;
    }
    saveSetup();
    try {
        if (!m_store || m_storeTarget != setup.recordsTarget) {
            m_store.reset();
            m_store = m_services.openStore(setup.recordsTarget);
            m_storeTarget = setup.recordsTarget;
        }
    } catch (const std::exception &e) {
        warn(QStringLiteral("The records cannot be written: %1").arg(QString::fromStdString(e.what())));
        return;
    }

    QList<SlotView> views;
    for (const QString &port : setup.ports) {
        SlotView view;
        view.label = slotLabel(port);
        for (const SlotCandidate &candidate : std::as_const(m_candidates))
            if (candidate.port == port)
                view.adapter = candidate.description;
        view.state = SlotState::Waiting;
        views.append(view);
    }
    m_tiles->setSlots(views);
    if (setup.jobName.isEmpty()) {
        RunTotals totals;
        totals.jobName = job.name;
        totals.jobSha256 = job.sha256;
        m_header->setTotals(totals);
    } else {
        showChosenJob();
    }
    m_header->setNotice(QString());

    try {
        m_services.driver.start(setup, *m_store);
    } catch (const std::exception &e) {
        warn(QString::fromStdString(e.what()));
        return;
    }
    m_running = true;
    m_setup->setLocked(true);
    m_startStop->setText(QStringLiteral("&Stop"));
    m_status->setText(QStringLiteral("Running"));
    m_pages->setCurrentWidget(m_runPage);
}

bool StationWindow::stop()
{
    if (m_services.driver.boardsInProgress()
        && !m_services.boxes.yesNo(this, title(),
                                   QStringLiteral("Boards are being flashed now. Stop the station and cancel them?"))) {
        return false;
    }
    // The driver may have ended on its own while the box was open, or the
    // session may have stopped it meanwhile.
    if (!m_running || m_stopping)
        return true;
    stopNow();
    return true;
}

void StationWindow::stopNow()
{
    m_stopping = true;
    m_startStop->setEnabled(false);
    m_startStop->setText(QStringLiteral("Stopping..."));
    m_status->setText(QStringLiteral("Stopping: the boards in progress are cancelled and recorded"));
    m_services.driver.requestStop();
}

void StationWindow::terminate()
{
    m_terminating = true;
    m_closeAfterStop = true;
    if (m_running) {
        if (!m_stopping)
            stopNow();
        return; // onEnded() closes the window
    }
    close();
}

void StationWindow::onSlotChanged(int index, const SlotView &slot)
{
    // The station tells the state; what the adapter is, the window found
    // at start.
    SlotView shown = slot;
    if (shown.adapter.isEmpty() && index >= 0 && index < m_tiles->tiles().size())
        shown.adapter = m_tiles->tiles()[index]->slot().adapter;
    m_tiles->updateSlot(index, shown);
    markServed();
}

int StationWindow::servedSlot() const
{
    const QList<SlotTile *> &tiles = m_tiles->tiles();
    for (qsizetype i = 0; i < tiles.size(); ++i)
        if (tiles[i]->slot().state == SlotState::ScanWanted)
            return int(i);
    return -1;
}

// Several slots may wait for an ID: the lowest is served first, always, so
// that the operator knows which board the scanner is for.
void StationWindow::markServed()
{
    const int served = servedSlot();
    const QList<SlotTile *> &tiles = m_tiles->tiles();
    for (qsizetype i = 0; i < tiles.size(); ++i) {
        const bool mark = i == served;
        if (tiles[i]->slot().scanServed == mark)
            continue;
        SlotView view = tiles[i]->slot();
        view.scanServed = mark;
        tiles[i]->setSlot(view);
    }
}

void StationWindow::onScanned(const QString &label)
{
    const int served = servedSlot();
    if (served < 0)
        return;
    m_services.driver.giveBoardId(served, label);
}

void StationWindow::showChosenJob()
{
    const std::optional<records::ApprovedJob> job = m_setup->chosenJob();
    if (!m_setup->jobChosen()) {
        RunTotals totals;
        totals.jobName = m_setup->job().name;
        totals.jobSha256 = m_setup->job().sha256;
        m_header->setTotals(totals);
        return;
    }
    RunTotals totals;
    totals.jobName = m_setup->setup().jobName;
    if (job) {
        totals.jobVersion = job->version;
        totals.jobApprover = job->approvedBy;
        totals.jobSha256 = job->sha256;
    }
    m_header->setTotals(totals);
}

void StationWindow::readJobs(bool quiet)
{
    if (!m_services.openJobs)
        return;
    const QString target = m_setup->setup().recordsTarget;
    try {
        const std::unique_ptr<records::JobStore> store = m_services.openJobs(target);
        m_setup->setApprovedJobs(store->current());
    } catch (const records::RecordStoreError &e) {
        if (!quiet)
            warn(QStringLiteral("The approved jobs cannot be read: %1").arg(e.reason()));
    }
}

void StationWindow::approveJob()
{
    if (!m_services.openJobs || !m_services.approvalDialog)
        return;
    const std::optional<JobApprovalRequest> request = m_services.approvalDialog->ask(this);
    if (!request)
        return;
    records::ApprovedJob job;
    try {
        job = jobToApprove(*request);
    } catch (const JobApprovalError &e) {
        warn(QStringLiteral("The job cannot be approved: %1").arg(QString::fromStdString(e.what())));
        return;
    }
    try {
        // The same records code as quobin-cli job approve: on a server, the
        // database's rights decide, and its refusal names the right missing.
        const std::unique_ptr<records::JobStore> store = m_services.openJobs(m_setup->setup().recordsTarget);
        job = store->approve(job);
    } catch (const records::RecordStoreError &e) {
        warn(QStringLiteral("The job %1 cannot be approved: %2").arg(request->name, e.reason()));
        return;
    }
    m_services.boxes.plain(this, title(),
                           QStringLiteral("Approved job %1 version %2 (SHA-256 %3), by %4 at %5.")
                               .arg(job.name)
                               .arg(job.version)
                               .arg(job.sha256, job.approvedBy, records::schema::timeText(job.approved)));
    readJobs();
}

void StationWindow::withdrawJob(const QString &name)
{
    if (!m_services.openJobs)
        return;
    if (!m_services.boxes.yesNo(this, title(),
                                QStringLiteral("Withdraw the job %1? No station takes a new board from it.").arg(name)))
        return;
    try {
        const std::unique_ptr<records::JobStore> store = m_services.openJobs(m_setup->setup().recordsTarget);
        const records::ApprovedJob job = store->withdraw(name);
        m_services.boxes.plain(this, title(),
                               QStringLiteral("Withdrew job %1 version %2, by %3 at %4.")
                                   .arg(job.name)
                                   .arg(job.version)
                                   .arg(job.withdrawnBy, records::schema::timeText(job.withdrawn)));
    } catch (const records::RecordStoreError &e) {
        warn(QStringLiteral("The job %1 cannot be withdrawn: %2").arg(name, e.reason()));
        return;
    }
    readJobs();
}

void StationWindow::onTotalsChanged(const RunTotals &totals)
{
    m_header->setTotals(totals);
}

void StationWindow::onBoardEnded(int, bool passed)
{
    if (m_sound->isChecked()) {
        if (passed)
            m_services.sounds.passTone();
        else
            m_services.sounds.failTone();
    }
    // The run's slots are offered already; the page shown is read again.
    if (m_pages->currentWidget() == m_records && m_store)
        m_records->refresh(m_store);
}

void StationWindow::onEnded(const QString &problem)
{
    m_running = false;
    m_stopping = false;
    showIdle();
    if (!problem.isEmpty()) {
        // A session that is ending has nobody to answer a box.
        if (m_terminating)
            std::fprintf(stderr, "quobin-station: %s\n", qPrintable(problem));
        else
            warn(problem);
    }
    if (m_closeAfterStop)
        close();
}

void StationWindow::reloadRecords()
{
    try {
        m_records->reload(recordsReader(m_setup->setup().recordsTarget));
    } catch (const std::exception &e) {
        m_reader.reset();
        m_records->showProblem(QStringLiteral("The records cannot be read: %1").arg(QString::fromStdString(e.what())));
    }
}

// During a run the records come from the run's own store; between runs the
// tab only reads, and changes nothing in the file it looks at.
std::shared_ptr<records::RecordStore> StationWindow::recordsReader(const QString &target)
{
    if (m_running && m_store)
        return m_store;
    if (!m_reader || m_readerTarget != target) {
        m_reader.reset();
        const auto &open = m_services.openReader ? m_services.openReader : m_services.openStore;
        m_reader = open(target);
        m_readerTarget = target;
    }
    return m_reader;
}

void StationWindow::saveSetup()
{
    StationSetup setup = m_setup->setup();
    setup.sound = m_sound->isChecked();
    // The operator learns at once that the next session will not start
    // from this set-up, and which file to look at.
    if (!saveStationSetup(m_setupPath, setup))
        warn(QStringLiteral("The set-up cannot be saved to the file %1").arg(QDir::toNativeSeparators(m_setupPath)));
}

void StationWindow::showIdle()
{
    m_setup->setLocked(false);
    m_startStop->setEnabled(true);
    m_startStop->setText(QStringLiteral("&Start"));
    m_status->setText(QStringLiteral("Stopped"));
}

void StationWindow::warn(const QString &text)
{
    m_services.boxes.warning(this, title(), text);
}

void StationWindow::closeEvent(QCloseEvent *event)
{
    if (m_running) {
        // Closing is Stop: ask, cancel and record, then close once the run has ended.
        if (!m_stopping && !stop()) {
            event->ignore();
            return;
        }
        if (m_running) {
            m_closeAfterStop = true;
            event->ignore();
            return;
        }
    }
    saveSetup();
    event->accept();
}

} // namespace quobin
