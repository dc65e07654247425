#pragma once

#include "BoardRecord.h"
#include "SlotCandidates.h"
#include "SlotView.h"
#include "StationSetup.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;
class QTabWidget;

namespace quobin {

class FileDialog;
class JobApprovalDialog;
class MessageBoxes;
class RecordsPage;
class RunHeader;
class SaveFileDialog;
class ScanKeys;
class SetupPanel;
class Sounds;
class SpaceKeeper;
class StationDriver;
class TileGrid;
namespace records {
class JobStore;
class RecordStore;
}

// What the window drives but does not own.
struct StationWindowServices {
    StationDriver &driver;
    MessageBoxes &boxes;
    FileDialog &fileDialog;
    SaveFileDialog &saveDialog;
    Sounds &sounds;
    // The ports that can be slots, found now.
    std::function<QList<SlotCandidate>()> findSlots;
    // Opens the records store a target names; throws records::RecordStoreError.
    std::function<std::unique_ptr<records::RecordStore>(const QString &target)> openStore;
    // The records as CSV, as quobin-cli records --csv writes them.
    std::function<QByteArray(const QList<records::BoardRecord> &)> toCsv;
    // Opens a target for the Records tab, reading only (a SQLite file is
    // neither changed nor made); empty: the Records tab reads through openStore.
    std::function<std::unique_ptr<records::RecordStore>(const QString &target)> openReader = {};
    // Opens the approved jobs of a target; throws records::RecordStoreError.
    // Empty: the set-up offers no approved jobs.
    std::function<std::unique_ptr<records::JobStore>(const QString &target)> openJobs = {};
    // The supervisor's approve dialog; none: no approving here.
    JobApprovalDialog *approvalDialog = nullptr;
};

// The station's window: the set-up, one tile per slot while it runs, the
// records, and one Start/Stop button (Space). The set-up is loaded from and
// saved to setupPath. Closing it during a run stops the run first. While a
// slot waits for its board's ID, what is typed in the run view (a scanner
// types the label, then Enter) goes to the lowest such slot.
class StationWindow : public QWidget {
    Q_OBJECT

public:
    StationWindow(StationWindowServices services, QString setupPath, QWidget *parent = nullptr);
    ~StationWindow() override;

    static QString title() { return QStringLiteral("Quobin Station"); }

    bool running() const { return m_running; }
    SetupPanel *setupPanel() const { return m_setup; }
    RunHeader *header() const { return m_header; }
    TileGrid *tileGrid() const { return m_tiles; }
    RecordsPage *recordsPage() const { return m_records; }
    QPushButton *startStopButton() const { return m_startStop; }
    QCheckBox *soundBox() const { return m_sound; }
    QTabWidget *pages() const { return m_pages; }
    QWidget *runPage() const { return m_runPage; }
    ScanKeys *scanKeys() const { return m_scanKeys; }

    // The tile label of a port: "Com 3" as it is, a device path by its file name.
    static QString slotLabel(const QString &port);

    // The session ends (SIGTERM at a logout): Stop without asking, as nobody
    // is there to answer; the boards in progress are cancelled at the
    // engine's checkpoints and recorded, then the window closes.
    void terminate();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void startOrStop();
    void start();
    // False when the operator chose to let the boards in progress finish.
    bool stop();
    void stopNow();
    void onSlotChanged(int index, const SlotView &slot);
    void onTotalsChanged(const RunTotals &totals);
    void onBoardEnded(int index, bool passed);
    void onEnded(const QString &problem);
    void reloadRecords();
    // The store the records page reads: the run's while one runs, else
    // the one the set-up names, opened here and only here.
    std::shared_ptr<records::RecordStore> recordsReader(const QString &target);
    void saveSetup();
    void showIdle();
    void warn(const QString &text);
    // The approved jobs of the set-up's records target, read again; quiet:
    // a failure is not put in a box.
    void readJobs(bool quiet = false);
    void approveJob();
    void withdrawJob(const QString &name);
    // The header before a run: the job file's or the approved job's.
    void showChosenJob();
    // The lowest slot that waits for a board's ID, -1 for none.
    int servedSlot() const;
    void markServed();
    void onScanned(const QString &label);

    StationWindowServices m_services;
    const QString m_setupPath;
    // The store of the run, or of the last reload; the records page reads
    // it on a thread of its own and shares it for that while.
    std::shared_ptr<records::RecordStore> m_store;
    QString m_storeTarget;
    std::shared_ptr<records::RecordStore> m_reader;  // the Records tab's between runs
    QString m_readerTarget;
    QList<SlotCandidate> m_candidates;
    bool m_running = false;
    bool m_stopping = false;
    bool m_closeAfterStop = false;
    bool m_terminating = false; // the session ends: no boxes

    SpaceKeeper *m_spaceKeeper;
    ScanKeys *m_scanKeys;
    QTabWidget *m_pages;
    SetupPanel *m_setup;
    QWidget *m_runPage;
    RunHeader *m_header;
    TileGrid *m_tiles;
    RecordsPage *m_records;
    QPushButton *m_startStop;
    QCheckBox *m_sound;
    QLabel *m_status;
};

} // namespace quobin
