#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <functional>

class QSqlError;

namespace tessivo::server {

// Why the last statement failed.
struct StorageError
{
    QString text;
    // The database ran out of disk space: the service's own trouble, which
    // a later try may not meet.
    bool outOfSpace = false;
};

// One connection to SQLite or PostgreSQL, behind QtSql, and the
// transactions over it. Values only ever reach SQL as bound parameters.
// Every write runs in a transaction, and a caller answers only after
// `transaction` returned true, so an answered write is on disk.
class Database
{
public:
    Database();
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // "sqlite:<path>" or "postgres:<key=value …>"; empty means SQLite in the
    // XDG data folder.
    bool connect(const QString &spec, QString *error);
    void close();
    QString lastError() const { return m_error.text; }
    bool lastErrorIsOutOfSpace() const { return m_error.outOfSpace; }
    void clearError() { m_error = {}; }

    // Runs `work` in a write transaction; commits when it returns true and
    // the commit succeeds. On SQLite it takes the write lock at once, so a
    // second process waits for it (busy timeout) instead of failing when
    // its first read turns into a write.
    bool transaction(const std::function<bool()> &work);
    // Runs `work` in a read-only transaction that sees one snapshot of the
    // database throughout, whatever other processes commit meanwhile.
    bool readTransaction(const std::function<bool()> &work);

protected:
    bool postgres() const { return m_postgres; }
    QSqlDatabase connection() const;
    // Binds `values` in order to the statement's "?" placeholders and runs it.
    bool run(QSqlQuery &query, const QVariantList &values);
    bool exec(const QString &sql);
    // Adds the column unless the table has it: databases made before it
    // existed get it on their next start.
    bool addColumn(const QString &table, const QString &column, const QString &type);
    void fail(const QSqlError &error);
    void fail(const QString &text) { m_error = {text}; }
    // Empty text as SQL NULL.
    static QVariant nullableText(const QString &s);

private:
    bool begin(const QString &statement);
    bool finish(const std::function<bool()> &work);

    QString m_connection;
    StorageError m_error;
    bool m_postgres = false;
};

} // namespace tessivo::server
