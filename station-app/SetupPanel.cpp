#include "SetupPanel.h"

#include "FittedLabel.h"
#include "SlotChecklist.h"

#include "FileDialog.h"
#include "FileDropLineEdit.h"

#include "RecordSchema.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <exception>

namespace quobin {

SetupPanel::SetupPanel(FileDialog &fileDialog, std::function<QList<SlotCandidate>()> findCandidates, QWidget *parent)
    : QWidget(parent),
      m_fileDialog(fileDialog),
      m_findCandidates(std::move(findCandidates)),
      m_jobEdit(new FileDropLineEdit(this)),
      m_browse(new QPushButton(QStringLiteral("&Browse..."), this)),
      // A long job name, its SHA-256 and a problem naming a path wrap
      // anywhere rather than widen the window.
      m_jobInfo(new FittedLabel(FittedLabel::Fit::Wrap, this)),
      m_problems(new FittedLabel(FittedLabel::Fit::Wrap, this)),
      m_slotList(new SlotChecklist(this)),
      m_refresh(new QPushButton(QStringLiteral("Re&fresh"), this)),
      m_recordsEdit(new QLineEdit(this)),
      m_serialEdit(new QLineEdit(this)),
      m_stationEdit(new QLineEdit(this)),
      m_approvedJobs(new QComboBox(this)),
      m_readJobs(new QPushButton(QStringLiteral("Re&ad jobs"), this)),
      m_approve(new QPushButton(QStringLiteral("Appro&ve a job..."), this)),
      m_withdraw(new QPushButton(QStringLiteral("&Withdraw job"), this))
{
    auto *jobLabel = new QLabel(QStringLiteral("&Job file:"), this);
    jobLabel->setBuddy(m_jobEdit);
    m_jobEdit->setObjectName(QStringLiteral("jobFile"));
    m_jobInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette warn = m_problems->palette();
    warn.setColor(QPalette::WindowText, QColor(0xb7, 0x1c, 0x1c));
    m_problems->setPalette(warn);

    auto *slotsLabel = new QLabel(QStringLiteral("S&lots:"), this);
    slotsLabel->setBuddy(m_slotList);

    auto *recordsLabel = new QLabel(QStringLiteral("Records &target:"), this);
    recordsLabel->setBuddy(m_recordsEdit);
    m_recordsEdit->setPlaceholderText(QStringLiteral("the default records database"));
    auto *stationLabel = new QLabel(QStringLiteral("Station &name:"), this);
    stationLabel->setBuddy(m_stationEdit);
    m_stationEdit->setPlaceholderText(QStringLiteral("this computer's name"));

    auto *serialLabel = new QLabel(QStringLiteral("Serial nu&mbers:"), this);
    serialLabel->setBuddy(m_serialEdit);
    m_serialEdit->setObjectName(QStringLiteral("serialSpec"));
    m_serialEdit->setPlaceholderText(QStringLiteral("none, or SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]]"));
    m_serialEdit->setToolTip(QStringLiteral("A serial number written into every board, e.g. pump@0x0800F000:4:le\n"
                                            "ENCODING: le or be (binary), ascii (decimal digits); FIRST and STEP are 1 unless given"));

    auto *approvedLabel = m_approvedLabel = new QLabel(QStringLiteral("Appr&oved job:"), this);
    approvedLabel->setBuddy(m_approvedJobs);
    m_approvedJobs->setObjectName(QStringLiteral("approvedJob"));
    m_approvedJobs->setAccessibleName(QStringLiteral("Approved job"));
    m_approvedJobs->setToolTip(QStringLiteral("A job a supervisor approved in the records database, flashed instead of"
                                              " the job file, with its own serial numbers and settings"));
    m_readJobs->setToolTip(QStringLiteral("Reads the approved jobs from the records target"));
    m_approve->setToolTip(QStringLiteral("For a supervisor: stores a job in the records database"));
    m_withdraw->setToolTip(QStringLiteral("For a supervisor: the job picked takes no new board"));
    m_approvedJobs->addItem(QStringLiteral("None: the job file above"));
    auto *jobButtons = new QHBoxLayout;
    jobButtons->addWidget(m_readJobs);
    jobButtons->addWidget(m_approve);
    jobButtons->addWidget(m_withdraw);
    jobButtons->addStretch(1);

    auto *grid = new QGridLayout(this);
    grid->addWidget(jobLabel, 0, 0);
    grid->addWidget(m_jobEdit, 0, 1);
    grid->addWidget(m_browse, 0, 2);
    grid->addWidget(m_jobInfo, 1, 1, 1, 2);
    grid->addWidget(m_problems, 2, 1, 1, 2);
    grid->addWidget(slotsLabel, 3, 0, Qt::AlignTop);
    grid->addWidget(m_slotList, 3, 1);
    grid->addWidget(m_refresh, 3, 2, Qt::AlignTop);
    grid->addWidget(recordsLabel, 4, 0);
    grid->addWidget(m_recordsEdit, 4, 1, 1, 2);
    grid->addWidget(stationLabel, 5, 0);
    grid->addWidget(m_stationEdit, 5, 1, 1, 2);
    grid->addWidget(serialLabel, 6, 0);
    grid->addWidget(m_serialEdit, 6, 1, 1, 2);
    grid->addWidget(approvedLabel, 7, 0);
    grid->addWidget(m_approvedJobs, 7, 1, 1, 2);
    grid->addLayout(jobButtons, 8, 1, 1, 2);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(1, 1);

    connect(m_slotList, &SlotChecklist::slotsListed, this, &SetupPanel::orderTabs);

    connect(m_browse, &QPushButton::clicked, this, &SetupPanel::browse);
    connect(m_refresh, &QPushButton::clicked, this, &SetupPanel::refreshSlots);
    connect(m_jobEdit, &QLineEdit::editingFinished, this, [this] { checkJob(); });
    connect(m_jobEdit, &FileDropLineEdit::filesDropped, this, [this](const QStringList &paths) {
        m_jobEdit->setText(paths.first());
        checkJob();
    });
    connect(m_approvedJobs, &QComboBox::currentIndexChanged, this, [this] {
        showChoice();
        emit approvedJobChosen();
    });
    connect(m_readJobs, &QPushButton::clicked, this, &SetupPanel::readJobsRequested);
    connect(m_approve, &QPushButton::clicked, this, &SetupPanel::approveRequested);
    connect(m_withdraw, &QPushButton::clicked, this, [this] {
        if (const std::optional<records::ApprovedJob> job = chosenJob())
            emit withdrawRequested(job->name);
    });
    listSlots({});
    checkJob();
    showChoice();
}

QString SetupPanel::approvedJobText(const records::ApprovedJob &job)
{
    return QStringLiteral("%1  version %2  approved by %3 at %4")
        .arg(job.name)
        .arg(job.version)
        .arg(job.approvedBy, records::schema::timeText(job.approved));
}

void SetupPanel::setApprovedJobs(const QList<records::ApprovedJob> &jobs)
{
    const QString chosen = setup().jobName;
    const QSignalBlocker quiet(m_approvedJobs);
    m_listed.clear();
    while (m_approvedJobs->count() > 1)
        m_approvedJobs->removeItem(1);
    for (const records::ApprovedJob &job : jobs) {
        if (job.isWithdrawn())
            continue;
        m_listed.append(job);
        m_approvedJobs->addItem(approvedJobText(job), job.name);
    }
    m_approvedJobs->setCurrentIndex(std::max(0, m_approvedJobs->findData(chosen)));
    showChoice();
    emit approvedJobChosen();
}

void SetupPanel::offerApprovedJobs(bool jobs, bool approving)
{
    for (QWidget *control : {static_cast<QWidget *>(m_approvedLabel), static_cast<QWidget *>(m_approvedJobs),
                             static_cast<QWidget *>(m_readJobs), static_cast<QWidget *>(m_withdraw)})
        control->setVisible(jobs);
    m_approve->setVisible(jobs && approving);
}

std::optional<records::ApprovedJob> SetupPanel::chosenJob() const
{
    const QString name = m_approvedJobs->currentData().toString();
    for (const records::ApprovedJob &job : m_listed)
        if (job.name == name)
            return job;
    return std::nullopt;
}

bool SetupPanel::jobChosen() const
{
    return !m_approvedJobs->currentData().toString().isEmpty();
}

// With an approved job picked, what belongs to the job is shown as the
// job's and cannot be changed.
void SetupPanel::showChoice()
{
    const bool fromJob = jobChosen();
    for (QWidget *control : {static_cast<QWidget *>(m_jobEdit), static_cast<QWidget *>(m_browse),
                             static_cast<QWidget *>(m_serialEdit)})
        control->setEnabled(!m_locked && !fromJob);
    m_withdraw->setEnabled(!m_locked && fromJob);
    if (!fromJob) {
        checkJob();
        return;
    }
    const std::optional<records::ApprovedJob> job = chosenJob();
    if (!job) {
        m_jobInfo->setText(QStringLiteral("Job %1: read the jobs to see it").arg(setup().jobName));
        m_problems->hide();
        return;
    }
    QString info = QStringLiteral("Job %1 version %2, approved by %3 at %4: %5, SHA-256 %6, serial numbers %7, on error %8")
                       .arg(job->name)
                       .arg(job->version)
                       .arg(job->approvedBy, records::schema::timeText(job->approved), job->fileName, job->sha256,
                            job->serialFormat.isEmpty() ? QStringLiteral("none") : job->serialFormat, job->onError);
    if (!job->boardIdRule.isEmpty())
        info += QStringLiteral(", board ID %1, re-flash %2")
                    .arg(job->boardIdRule, job->reflashAllowed ? QStringLiteral("allowed") : QStringLiteral("refused"));
    m_jobInfo->setText(info);
    m_problems->hide();
}

void SetupPanel::setSetup(const StationSetup &setup)
{
    {
        // A job picked before is kept until the list is read.
        const QSignalBlocker quiet(m_approvedJobs);
        int at = setup.jobName.isEmpty() ? 0 : m_approvedJobs->findData(setup.jobName);
        if (at < 0) {
            m_approvedJobs->addItem(setup.jobName + QStringLiteral("  (not read yet)"), setup.jobName);
            at = m_approvedJobs->count() - 1;
        }
        m_approvedJobs->setCurrentIndex(at);
    }
    m_jobEdit->setText(setup.jobPath);
    m_recordsEdit->setText(setup.recordsTarget);
    m_stationEdit->setText(setup.stationName);
    m_serialEdit->setText(setup.serialSpec);
    listSlots(setup.ports);
    showChoice();
}

StationSetup SetupPanel::setup() const
{
    StationSetup setup;
    setup.jobPath = m_jobEdit->text().trimmed();
    setup.ports = tickedPorts();
    setup.recordsTarget = m_recordsEdit->text().trimmed();
    setup.stationName = m_stationEdit->text().trimmed();
    setup.serialSpec = m_serialEdit->text().trimmed();
    setup.jobName = m_approvedJobs->currentData().toString();
    return setup;
}

void SetupPanel::setLocked(bool locked)
{
    m_locked = locked;
    for (QWidget *control : {static_cast<QWidget *>(m_slotList), static_cast<QWidget *>(m_refresh),
                             static_cast<QWidget *>(m_recordsEdit), static_cast<QWidget *>(m_stationEdit),
                             static_cast<QWidget *>(m_approvedJobs), static_cast<QWidget *>(m_readJobs),
                             static_cast<QWidget *>(m_approve)})
        control->setEnabled(!locked);
    const bool fromJob = jobChosen();
    for (QWidget *control : {static_cast<QWidget *>(m_jobEdit), static_cast<QWidget *>(m_browse),
                             static_cast<QWidget *>(m_serialEdit)})
        control->setEnabled(!locked && !fromJob);
    m_withdraw->setEnabled(!locked && fromJob);
}

void SetupPanel::refreshSlots()
{
    listSlots(tickedPorts());
}

// Top to bottom, the slots' boxes between Browse and Refresh; the boxes
// are made afresh at every listing.
void SetupPanel::orderTabs()
{
    QList<QWidget *> order{m_jobEdit, m_browse};
    for (int i = 0; i < m_slotList->count(); ++i)
        order << m_slotList->box(i);
    order << m_refresh << m_recordsEdit << m_stationEdit << m_serialEdit << m_approvedJobs << m_readJobs << m_approve
          << m_withdraw;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void SetupPanel::browse()
{
    QString path;
    try {
        path = m_fileDialog.openFile(this, QStringLiteral("Job file"),
                                     {QStringLiteral("Firmware (*.hex)"), QStringLiteral("All files (*)")},
                                     QStringLiteral("hex"));
    } catch (const std::exception &) {
        return;
    }
    if (path.isEmpty())
        return;
    m_jobEdit->setText(path);
    checkJob();
}

const JobSummary &SetupPanel::checkJob()
{
    const QString path = m_jobEdit->text().trimmed();
    m_job = summariseJob(path);
    if (m_job.sha256.isEmpty())
        m_jobInfo->clear();
    else
        m_jobInfo->setText(m_job.name + QStringLiteral("   SHA-256 ") + m_job.sha256);
    m_problems->setText(m_job.problems.join(QLatin1Char('\n')));
    m_problems->setVisible(!m_job.problems.isEmpty());
    emit jobChanged(m_job);
    return m_job;
}

QStringList SetupPanel::tickedPorts() const
{
    return m_slotList->tickedPorts();
}

void SetupPanel::listSlots(const QStringList &ticked)
{
    QList<SlotCandidate> candidates = m_findCandidates ? m_findCandidates() : QList<SlotCandidate>();
    for (const QString &port : ticked) {
        const bool listed = std::any_of(candidates.cbegin(), candidates.cend(),
                                        [&](const SlotCandidate &c) { return c.port == port; });
        if (!listed)
            candidates.append({port, QStringLiteral("not found now")});
    }
    m_slotList->setSlots(candidates, ticked);
}

QLabel *SetupPanel::jobInfo() const
{
    return m_jobInfo;
}

QLabel *SetupPanel::problems() const
{
    return m_problems;
}

} // namespace quobin
