#include "JobStore.h"

#include "JobTable.h"
#include "RecordSchema.h"
#include "RecordStore.h"
#include "SqliteConnection.h"
#include "SystemUser.h"

#include <QSqlError>
#include <QSqlQuery>

namespace quobin::records {

JobStore::JobStore(QString where) : m_where(std::move(where)) {}

std::unique_ptr<JobStore> JobStore::onFile(const QString &path)
{
    std::unique_ptr<JobStore> store(new JobStore(path));
    store->m_path = path;
    store->m_worker.run([&] { store->m_file = std::make_unique<SqliteConnection>(path, false); });
    return store;
}

std::unique_ptr<JobStore> JobStore::onServer(const ServerTarget &server)
{
    std::unique_ptr<JobStore> store(new JobStore(server.describe()));
    store->m_server = server;
    store->m_worker.run([&] {
        store->m_connectionName = uniqueConnectionName("jobs");
        store->m_database = server.addConnection(store->m_connectionName,
                                                 QStringLiteral("connect_timeout=3;application_name=quobin"),
                                                 QStringLiteral("-c statement_timeout=10000"));
    });
    return store;
}

JobStore::~JobStore()
{
    m_worker.run([this] {
        m_file.reset();
        if (!m_connectionName.isEmpty()) {
            m_database.close();
            m_database = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connectionName);
        }
    });
}

QSqlDatabase &JobStore::open()
{
    if (m_file)
        return m_file->database();
    return schema::openServer(m_database, m_where);
}

template<typename Work>
auto JobStore::onDatabase(Work &&work)
{
    return m_worker.run([&] {
        try {
            return work(open());
        } catch (const RecordStoreError &) {
            // A server that went away leaves a connection that only fails:
            // the next call connects afresh.
            if (!m_file)
                m_database.close();
            throw;
        }
    });
}

QString JobStore::user()
{
    if (!m_server)
        return systemUserName();
    return onDatabase([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT current_user")) || !query.next())
            throw RecordStoreError(QStringLiteral("Cannot ask %1 for its user: %2")
                                       .arg(m_where, schema::reasonOf(query.lastError())));
        return query.value(0).toString();
    });
}

ApprovedJob JobStore::approve(const ApprovedJob &job)
{
    const QString who = user();
    return onDatabase([&](QSqlDatabase &db) { return jobs::approve(db, job, who, m_where); });
}

QList<ApprovedJob> JobStore::current()
{
    return onDatabase([&](QSqlDatabase &db) { return jobs::current(db, m_where); });
}

QList<ApprovedJob> JobStore::versions(const QString &name)
{
    return onDatabase([&](QSqlDatabase &db) { return jobs::versions(db, name, m_where); });
}

std::optional<ApprovedJob> JobStore::currentOf(const QString &name, bool withImage)
{
    return onDatabase([&](QSqlDatabase &db) { return jobs::currentOf(db, name, withImage, m_where); });
}

ApprovedJob JobStore::withdraw(const QString &name)
{
    const QString who = user();
    return onDatabase([&](QSqlDatabase &db) { return jobs::withdraw(db, name, who, m_where); });
}

} // namespace quobin::records
