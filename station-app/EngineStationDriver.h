#pragma once

#include "ScannedBoardIds.h"
#include "SerialSources.h"
#include "Slot.h"
#include "StationDriver.h"
#include "StationObserver.h"

#include <QElapsedTimer>
#include <QList>
#include <QMutex>

#include <atomic>
#include <memory>
#include <optional>

class QThread;

namespace quobin {

namespace station {
class ApprovedJobSupply;
class StationJob;
struct StationSerials;
}

namespace records {
class JobStore;
}

// The station engine behind the window. A run is a station::Station on a
// thread of its own; what its slots report (from their own threads) becomes
// the tiles' views, sent to the window as queued signals.
class EngineStationDriver : public StationDriver, private station::StationObserver {
    Q_OBJECT

public:
    // linkFolders: where comN links are looked for; openPort: a fresh serial
    // port on a device; quobinVersion: recorded with every board.
    EngineStationDriver(QStringList linkFolders, station::PortFactory openPort, QString quobinVersion,
                        QObject *parent = nullptr);
    ~EngineStationDriver() override;

    void start(const StationSetup &setup, records::RecordStore &store) override;
    void requestStop() override;
    bool boardsInProgress() const override;
    void giveBoardId(int slot, const QString &id) override;

    // The slot for a port as the operator ticked it: "Com n" follows its
    // comN link (or the default device), a path is opened as it stands, so a
    // by-id name follows its adapter.
    static station::SlotAddress slotAddressFor(const QString &port, const QStringList &linkFolders);

private:
    // station::StationObserver, called from the slots' threads
    void boardStarted(int slot) override;
    void slotStatus(int slot, station::SlotState state, const QString &text) override;
    void progress(int slot, int sent, int total) override;
    void recorded(int slot, const records::BoardRecord &record, const station::StationCounts &counts) override;
    void warning(const QString &text) override;
    void recordsWaiting(int count, const QString &reason) override;
    void tick(const station::StationCounts &counts) override;
    void serials(int slot, std::optional<quint64> inProgress, std::optional<quint64> last) override;
    void nextSerial(std::optional<quint64> number) override;
    void boardIdRefused(int slot, const QString &id, const QString &reason) override;
    void boardIdTaken(int slot, const QString &id, bool reflash) override;
    // The job of a run: the file, or the approved job read and checked from
    // the records database; throws std::runtime_error with the operator's
    // message. Returns the set-up's serial number format.
    QString prepareJob(const StationSetup &setup);
    // The serial numbers of a set-up that asks for them; throws
    // std::runtime_error with the operator's message.
    void prepareSerials(const QString &serialFormat, const QString &recordsTarget);

    void publishTotals(const station::StationCounts &counts);

    const QStringList m_linkFolders;
    const station::PortFactory m_openPort;
    const QString m_quobinVersion;
    std::atomic<bool> m_cancel{false};
    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<records::JobStore> m_jobStore;
    std::unique_ptr<station::ApprovedJobSupply> m_jobSupply;
    std::unique_ptr<station::StationJob> m_job;
    station::ErrorPolicy m_policy = station::ErrorPolicy::Stop;
    bool m_wantsBoardIds = false;
    ScannedBoardIds m_boardIds;
    // In this order: each uses the one before.
    records::SerialSource m_serialSource;
    std::unique_ptr<records::SerialPool> m_serialPool;
    std::unique_ptr<station::StationSerials> m_serials;

    mutable QMutex m_mutex;  // guards what follows
    QList<SlotView> m_views;
    QList<QElapsedTimer> m_boardTimers;
    QList<QString> m_reasons;  // the last failed board's reason, per slot
    RunTotals m_totals;
};

} // namespace quobin
