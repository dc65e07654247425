#include "RecordKeeper.h"

#include "RecordJson.h"
#include "RecordStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

namespace quobin::station {

RecordKeeper::RecordKeeper(records::RecordStore &store, QString sideFile)
    : m_store(store), m_sideFile(std::move(sideFile))
{
}

QString RecordKeeper::sideFileFor(const QString &localFile)
{
    return localFile.isEmpty() ? QString() : localFile + QStringLiteral(".unsaved.jsonl");
}

RecordKeeper::Held RecordKeeper::keep(const records::BoardRecord &record, QString *reason)
{
    try {
        m_store.commit(record);
        return Held::Saved;
    } catch (const records::RecordStoreError &error) {
        if (reason)
            *reason = error.reason();
    }
    std::lock_guard lock(m_mutex);
    m_held.append(record);
    return rewriteSideFile() ? Held::SideFile : Held::MemoryOnly;
}

bool RecordKeeper::retry(QString *reason)
{
    std::unique_lock retrying(m_retrying, std::try_to_lock);
    if (!retrying.owns_lock()) {
        std::lock_guard lock(m_mutex);
        return m_held.isEmpty();
    }
    QList<records::BoardRecord> waiting;
    {
        std::lock_guard lock(m_mutex);
        waiting = m_held;
    }
    if (waiting.isEmpty())
        return true;
    QSet<QUuid> saved;
    QString refused;
    for (const records::BoardRecord &record : std::as_const(waiting)) {
        try {
            m_store.commit(record);
            saved.insert(record.id);
        } catch (const records::RecordStoreError &error) {
            refused = error.reason();
            break; // the store is still away; the others wait too, in order
        }
    }
    std::lock_guard lock(m_mutex);
    if (!saved.isEmpty()) {
        m_held.removeIf([&](const records::BoardRecord &record) { return saved.contains(record.id); });
        rewriteSideFile();
    }
    if (reason)
        *reason = refused;
    return m_held.isEmpty();
}

// The side file holds what is held, one JSON line per record, replaced
// whole (written beside it, synced, renamed over it): a full disk leaves the
// old file as it was, never half a file. Removed when nothing is held, which
// needs no space.
bool RecordKeeper::rewriteSideFile()
{
    if (m_sideFile.isEmpty())
        return false;
    if (m_held.isEmpty()) {
        QFile::remove(m_sideFile);
        return true;
    }
    QSaveFile file(m_sideFile);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const records::BoardRecord &record : std::as_const(m_held))
        file.write(QJsonDocument(records::recordJson(record)).toJson(QJsonDocument::Compact) + '\n');
    return file.commit();
}

bool RecordKeeper::holds(const QUuid &id) const
{
    std::lock_guard lock(m_mutex);
    return std::any_of(m_held.cbegin(), m_held.cend(), [&](const records::BoardRecord &r) { return r.id == id; });
}

QList<records::BoardRecord> RecordKeeper::held() const
{
    std::lock_guard lock(m_mutex);
    return m_held;
}

int RecordKeeper::loadLeftOver()
{
    if (m_sideFile.isEmpty())
        return 0;
    QFile file(m_sideFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    std::lock_guard lock(m_mutex);
    int loaded = 0;
    while (!file.atEnd()) {
        const QJsonDocument line = QJsonDocument::fromJson(file.readLine());
        if (!line.isObject())
            continue;
        const records::BoardRecord record = records::recordFromJson(line.object());
        if (record.id.isNull())
            continue;
        const bool known = std::any_of(m_held.cbegin(), m_held.cend(),
                                       [&](const records::BoardRecord &r) { return r.id == record.id; });
        if (!known) {
            m_held.append(record);
            ++loaded;
        }
    }
    return loaded;
}

} // namespace quobin::station
