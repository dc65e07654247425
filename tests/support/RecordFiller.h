#pragma once

// Fills a records database with many records at once, in one transaction,
// through the schema's own insert: for tests and benchmarks of readers of a
// long history. The database gets its tables from a store opened on it
// first.

#include "BoardRecord.h"
#include "RecordSchema.h"
#include "RecordStores.h"

#include <QSqlDatabase>
#include <QUuid>

#include <functional>

namespace quobin::testing {

// Writes count records to the SQLite file at path; make(i) gives the i-th,
// oldest first.
inline void fillRecords(const QString &path, int count, const std::function<records::BoardRecord(int)> &make)
{
    records::openRecordStore(path).reset();
    const QString name = QStringLiteral("fill-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
        db.transaction();
        for (int i = 0; i < count; ++i)
            records::schema::insert(db, make(i), path);
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace quobin::testing
