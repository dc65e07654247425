#pragma once

#include "RecordStore.h"

namespace quobin::records {

// Reads the records of a SQLite file and changes nothing in it: the file is
// opened read-only (no write-ahead log switched on, no table made), so that
// `records` and the window's Records tab can look at a file that is
// read-only, owned by another user, or in use by a running station. A file
// without Quobin's records table is refused, untouched. A file that is not
// there holds no records. Each read opens its own connection on the calling
// thread.
class SqliteRecordReader : public RecordStore {
public:
    explicit SqliteRecordReader(const QString &path) : m_path(path) {}

    // Throws RecordStoreError: a reader keeps no records.
    void commit(const BoardRecord &record) override;
    QList<BoardRecord> read(const QDateTime &since = {}) override;
    QMap<QString, SeriesState> seriesStates() override;
    QString describe() const override { return m_path; }

private:
    // work(db, schemaVersion) on a connection of its own to the file.
    template<typename Result, typename Work>
    Result readWith(Work &&work);

    QString m_path;
};

} // namespace quobin::records
