#include "Database.h"

#include <QDir>
#include <QSqlError>
#include <QStandardPaths>
#include <QUuid>

#include <mutex>

namespace tessivo::server {

namespace {
StorageError storageError(const QSqlError &error)
{
    // SQLite reports a full disk (and a database at its size limit) as
    // SQLITE_FULL; PostgreSQL as SQLSTATE 53100, disk_full.
    const bool full = error.nativeErrorCode() == QLatin1String("53100") ||
                      error.nativeErrorCode() == QLatin1String("13") ||
                      error.databaseText().contains(QLatin1String("database or disk is full"));
    return {error.text(), full};
}

} // namespace

Database::Database()
    : m_connection(QStringLiteral("tessivo-service-") + QUuid::createUuid().toString(QUuid::Id128))
{}

Database::~Database()
{
    close();
}

bool Database::connect(const QString &spec, QString *error)
{
    QString path;
    if (spec.startsWith(QLatin1String("postgres:"))) {
        m_postgres = true;
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connection);
        QStringList rest;
        for (const QString &item : spec.mid(9).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString key = item.section(QLatin1Char('='), 0, 0);
            const QString value = item.section(QLatin1Char('='), 1);
            if (key == QLatin1String("host"))
                db.setHostName(value);
            else if (key == QLatin1String("port"))
                db.setPort(value.toInt());
            else if (key == QLatin1String("dbname"))
                db.setDatabaseName(value);
            else if (key == QLatin1String("user"))
                db.setUserName(value);
            else if (key == QLatin1String("password"))
                db.setPassword(value);
            else
                rest << item;
        }
        db.setConnectOptions(rest.join(QLatin1Char(';')));
    } else {
        path = spec.startsWith(QLatin1String("sqlite:")) ? spec.mid(7) : spec;
        if (path.isEmpty()) {
            const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                QStringLiteral("/tessivo-service");
            QDir().mkpath(dir);
            path = dir + QStringLiteral("/tessivo-service.sqlite");
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(path);
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.isValid() || !db.open()) {
        m_error = db.isValid() ? storageError(db.lastError())
                               : StorageError{QStringLiteral("the SQL driver is not installed")};
        if (error)
            *error = m_error.text;
        return false;
    }
    // WAL keeps readers off the writer's back; FULL makes a commit durable
    // before the reply that reports it leaves.
    if (m_postgres)
        exec(QStringLiteral("SET client_min_messages TO WARNING")); // no notices for existing tables
    if (!m_postgres && !(exec(QStringLiteral("PRAGMA journal_mode=WAL")) &&
                         exec(QStringLiteral("PRAGMA synchronous=FULL")) &&
                         exec(QStringLiteral("PRAGMA busy_timeout=5000")))) {
        if (error)
            *error = m_error.text;
        return false;
    }
    return true;
}

void Database::close()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen())
            db.close();
    }
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::removeDatabase(m_connection);
}

bool Database::exec(const QString &sql)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(sql))
        return true;
    m_error = storageError(query.lastError());
    return false;
}

QSqlDatabase Database::connection() const
{
    return QSqlDatabase::database(m_connection, false);
}

bool Database::run(QSqlQuery &query, const QVariantList &values)
{
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    if (query.exec())
        return true;
    fail(query.lastError());
    return false;
}

void Database::fail(const QSqlError &error)
{
    m_error = storageError(error);
}

QVariant Database::nullableText(const QString &s)
{
    return s.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(s);
}

bool Database::addColumn(const QString &table, const QString &column, const QString &type)
{
    // Databases made before the column existed get it on their next start.
    if (m_postgres)
        return exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN IF NOT EXISTS %2 %3").arg(table, column, type));
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) {
        m_error = storageError(q.lastError());
        return false;
    }
    while (q.next()) {
        if (q.value(1).toString() == column)
            return true;
    }
    return exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3").arg(table, column, type));
}

bool Database::transaction(const std::function<bool()> &work)
{
    // SQLite has one writer at a time. Threads of this process queue here,
    // woken as soon as the writer before them is done; SQLite's busy
    // timeout, which polls with sleeps of up to 100 ms, is left to other
    // processes on the same file.
    static std::mutex sqliteWriters;
    std::unique_lock<std::mutex> writer(sqliteWriters, std::defer_lock);
    if (!m_postgres)
        writer.lock();
    // SQLite takes the write lock up front, so that a writer waits out the
    // busy timeout rather than failing when another connection wrote since
    // it began to read.
    return begin(m_postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")) && finish(work);
}

bool Database::readTransaction(const std::function<bool()> &work)
{
    // SQLite's WAL reader keeps the snapshot of its first read until the
    // end; PostgreSQL needs repeatable read for that.
    return begin(m_postgres ? QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")
                            : QStringLiteral("BEGIN")) &&
           finish(work);
}

bool Database::begin(const QString &statement)
{
    // Issued as plain statements: the driver's own transaction() can only
    // say "BEGIN".
    return exec(statement);
}

bool Database::finish(const std::function<bool()> &work)
{
    if (!work()) {
        const StorageError error = m_error;
        exec(QStringLiteral("ROLLBACK"));
        m_error = error;
        return false;
    }
    if (!exec(QStringLiteral("COMMIT"))) {
        const StorageError error = m_error;
        exec(QStringLiteral("ROLLBACK"));
        m_error = error;
        return false;
    }
    return true;
}

} // namespace tessivo::server
