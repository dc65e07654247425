#pragma once

#include "JobSummary.h"
#include "SlotCandidates.h"
#include "StationSetup.h"

#include <QWidget>

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
// station's name.
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

    FileDropLineEdit *jobEdit() const { return m_jobEdit; }
    QPushButton *browseButton() const { return m_browse; }
    QLabel *jobInfo() const;
    QLabel *problems() const;
    SlotChecklist *slotList() const { return m_slotList; }
    QPushButton *refreshButton() const { return m_refresh; }
    QLineEdit *recordsEdit() const { return m_recordsEdit; }
    QLineEdit *stationEdit() const { return m_stationEdit; }

public slots:
    void refreshSlots();

signals:
    void jobChanged(const quobin::JobSummary &job);

private:
    void browse();
    QStringList tickedPorts() const;
    void listSlots(const QStringList &ticked);
    void orderTabs();

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
};

} // namespace quobin
