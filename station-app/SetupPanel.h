#pragma once

#include "ApprovedJob.h"
#include "JobSummary.h"
#include "SlotCandidates.h"
#include "StationSetup.h"

#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;

class QPushButton;

namespace quobin {

class FittedLabel;
class SlotChecklist;

class FileDialog;
class FileDropLineEdit;

// The set-up before a run: the job file (typed, browsed for or dropped) with
// its name, SHA-256 and problems, checked as soon as it is named; the ports
// that can be slots, each with a tick box; the records target and the
// station's name. Or, instead of the file, an approved job of the records
// database, picked from a list: with one picked, the file and the serial
// numbers are the job's own and cannot be changed here; only the slots (and
// where the records go) are chosen. A supervisor approves and withdraws
// jobs from here too.
class SetupPanel : public QWidget {
    Q_OBJECT

public:
    SetupPanel(FileDialog &fileDialog, std::function<QList<SlotCandidate>()> findCandidates,
               QWidget *parent = nullptr);

    // Shows a set-up; ticked ports that are not found now are listed too,
    // so that a slot whose adapter is unplugged is not forgotten.
    void setSetup(const StationSetup &setup);
    // The set-up as shown; sound is left at its default.
    StationSetup setup() const;
    const JobSummary &job() const { return m_job; }
    // Reads and checks the job file named now, and shows what it found.
    const JobSummary &checkJob();

    // Nothing of the job or the slots can be changed while locked.
    void setLocked(bool locked);

    // The approved jobs that can be picked (withdrawn ones are left out);
    // the job picked stays picked when it is among them.
    void setApprovedJobs(const QList<records::ApprovedJob> &jobs);
    // The approved job picked, as listed; nothing for the job file.
    std::optional<records::ApprovedJob> chosenJob() const;
    // Whether approved jobs are offered at all, and approving them.
    void offerApprovedJobs(bool jobs, bool approving);
    bool jobChosen() const;

    FileDropLineEdit *jobEdit() const { return m_jobEdit; }
    QPushButton *browseButton() const { return m_browse; }
    QLabel *jobInfo() const;
    QLabel *problems() const;
    SlotChecklist *slotList() const { return m_slotList; }
    QPushButton *refreshButton() const { return m_refresh; }
    QLineEdit *recordsEdit() const { return m_recordsEdit; }
    QLineEdit *stationEdit() const { return m_stationEdit; }
    QLineEdit *serialEdit() const { return m_serialEdit; }
    QComboBox *approvedJobList() const { return m_approvedJobs; }
    QPushButton *readJobsButton() const { return m_readJobs; }
    QPushButton *approveButton() const { return m_approve; }
    QPushButton *withdrawButton() const { return m_withdraw; }

    // The item of an approved job: "pump  version 2  approved by alice at 2026-12-09 15:00:00 UTC".
    static QString approvedJobText(const records::ApprovedJob &job);

public slots:
    void refreshSlots();

signals:
    void jobChanged(const quobin::JobSummary &job);
    // An approved job was picked, or the job file again (nothing).
    void approvedJobChosen();
    void readJobsRequested();
    void approveRequested();
    void withdrawRequested(const QString &name);

private:
    void browse();
    QStringList tickedPorts() const;
    void listSlots(const QStringList &ticked);
    void orderTabs();
    void showChoice();

    FileDialog &m_fileDialog;
    std::function<QList<SlotCandidate>()> m_findCandidates;
    JobSummary m_job;
    FileDropLineEdit *m_jobEdit;
    QPushButton *m_browse;
    FittedLabel *m_jobInfo;
    FittedLabel *m_problems;
    SlotChecklist *m_slotList;
    QPushButton *m_refresh;
    QLineEdit *m_recordsEdit;
    QLineEdit *m_serialEdit;
    QLineEdit *m_stationEdit;
    QComboBox *m_approvedJobs;
    QPushButton *m_readJobs;
    QPushButton *m_approve;
    QPushButton *m_withdraw;
    QLabel *m_approvedLabel;
    QList<records::ApprovedJob> m_listed;
    bool m_locked = false;
};

} // namespace quobin
