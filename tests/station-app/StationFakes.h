#pragma once

// Stand-ins for what the station window drives: a station that the test
// plays, an in-memory records store, the boxes and dialogs, and the tones.

#include "AppFakes.h"
#include "JobApprovalDialog.h"
#include "RecordStore.h"
#include "SaveFileDialog.h"
#include "Sounds.h"
#include "StationDriver.h"

#include <QMutex>
#include <QStringList>

namespace quobin::testing {

// A station the test plays: it notes what the window asks, and the test
// emits the slots' events (from any thread, as the engine does).
class PlayedStation : public StationDriver {
public:
    void start(const StationSetup &setup, records::RecordStore &store) override
    {
        if (!refusal.isEmpty())
            throw std::runtime_error(refusal.toStdString());
        started.append(setup);
        this->store = &store;
    }
    void requestStop() override { ++stopRequests; }
    bool boardsInProgress() const override { return inProgress; }
    void giveBoardId(int slot, const QString &id) override { boardIds.append({slot, id}); }

    QString refusal;
    QList<StationSetup> started;
    records::RecordStore *store = nullptr;
    int stopRequests = 0;
    bool inProgress = false;
    QList<QPair<int, QString>> boardIds;  // as given: slot, ID
};

// Records kept in memory.
class MemoryStore : public records::RecordStore {
public:
    void commit(const records::BoardRecord &record) override
    {
        QMutexLocker lock(&m_mutex);
        kept.append(record);
    }
    QList<records::BoardRecord> read(const QDateTime &) override
    {
        QMutexLocker lock(&m_mutex);
        if (unreadable)
            throw records::RecordStoreError(QStringLiteral("disk on fire"));
        return kept;
    }
    QString describe() const override { return QStringLiteral("memory"); }

    QList<records::BoardRecord> kept;
    bool unreadable = false;

private:
    QMutex m_mutex;
};

class CountingSounds : public Sounds {
public:
    void passTone() override { tones << QStringLiteral("pass"); }
    void failTone() override { tones << QStringLiteral("fail"); }
    QStringList tones;
};

class ScriptedSaveDialog : public SaveFileDialog {
public:
    QString saveFile(QWidget *, const QString &, const QString &, const QString &) override
    {
        ++calls;
        return answer;
    }
    QString answer;
    int calls = 0;
};

// The supervisor's approve dialog, answered as the test says.
class ScriptedApprovalDialog : public JobApprovalDialog {
public:
    std::optional<JobApprovalRequest> ask(QWidget *) override
    {
        ++calls;
        return answer;
    }
    std::optional<JobApprovalRequest> answer;
    int calls = 0;
};

} // namespace quobin::testing
