#include "Storage.h"

#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>

#include <mutex>

namespace tessivo::server {

namespace {
// Why the app could not read a record, or an empty string.
QString recordProblem(RecordKind kind, const QJsonValue &record)
{
    return kind == RecordKind::Document ? SyncPushRequest::documentProblem(record)
                                        : SyncPushRequest::collectionProblem(record);
}

// What a stored document counts against its owner's quota: its body, while
// it is live.
qint64 countedBytes(const QJsonObject &record)
{
    const QJsonValue deleted = record.value(QLatin1String("deletedAt"));
    if (!deleted.isUndefined() && !deleted.isNull())
        return 0;
    return record.value(QLatin1String("body")).toString().toUtf8().size();
}

QString recordTable(RecordKind kind)
{
    return kind == RecordKind::Document ? QStringLiteral("documents") : QStringLiteral("collections");
}

StorageError storageError(const QSqlError &error)
{
    // SQLite reports a full disk (and a database at its size limit) as
    // SQLITE_FULL; PostgreSQL as SQLSTATE 53100, disk_full.
    const bool full = error.nativeErrorCode() == QLatin1String("53100") ||
                      error.nativeErrorCode() == QLatin1String("13") ||
                      error.databaseText().contains(QLatin1String("database or disk is full"));
    return {error.text(), full};
}

// Binds `values` in order to the statement's "?" placeholders and runs it.
bool run(QSqlQuery &query, const QVariantList &values, StorageError *error)
{
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    if (query.exec())
        return true;
    *error = storageError(query.lastError());
    return false;
}

QVariant nullableText(const QString &s)
{
    return s.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(s);
}

std::optional<qint64> optionalInteger(const QJsonObject &record, const char *key)
{
    const QJsonValue value = record.value(QLatin1String(key));
    return value.isDouble() ? std::optional(value.toInteger()) : std::nullopt;
}

std::optional<QString> optionalString(const QJsonObject &record, const char *key)
{
    const QJsonValue value = record.value(QLatin1String(key));
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

} // namespace

Storage::Storage()
    : m_connection(QStringLiteral("tessivo-service-") + QUuid::createUuid().toString(QUuid::Id128))
{}

Storage::~Storage()
{
    close();
}

bool Storage::open(const QString &spec, QString *error)
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
    if (!createSchema()) {
        if (error)
            *error = m_error.text;
        return false;
    }
    return true;
}

void Storage::close()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen())
            db.close();
    }
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::removeDatabase(m_connection);
}

bool Storage::exec(const QString &sql)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(sql))
        return true;
    m_error = storageError(query.lastError());
    return false;
}

bool Storage::createSchema()
{
    const QString blob = m_postgres ? QStringLiteral("BYTEA") : QStringLiteral("BLOB");
    const QStringList statements = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS users (id TEXT PRIMARY KEY, email TEXT NOT NULL UNIQUE, "
                       "name TEXT NOT NULL, password_hash TEXT NOT NULL, handle TEXT UNIQUE, "
                       "is_admin INTEGER NOT NULL DEFAULT 0, created_at BIGINT NOT NULL, "
                       "last_stamp BIGINT NOT NULL DEFAULT 0)"),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS sessions (token_hash TEXT PRIMARY KEY, user_id TEXT NOT NULL, "
            "created_at BIGINT NOT NULL, expires_at BIGINT, rolled_to TEXT)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS one_time_tokens (token_hash TEXT PRIMARY KEY, "
                       "user_id TEXT NOT NULL, expires_at BIGINT NOT NULL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS documents (user_id TEXT NOT NULL, id TEXT NOT NULL, "
                       "record TEXT NOT NULL, updated_at BIGINT NOT NULL, stamp BIGINT NOT NULL, "
                       "PRIMARY KEY (user_id, id))"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS documents_stamp ON documents (user_id, stamp)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS collections (user_id TEXT NOT NULL, id TEXT NOT NULL, "
                       "record TEXT NOT NULL, updated_at BIGINT NOT NULL, stamp BIGINT NOT NULL, "
                       "PRIMARY KEY (user_id, id))"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS collections_stamp ON collections (user_id, stamp)"),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS publications (slug TEXT PRIMARY KEY, user_id TEXT NOT NULL, "
            "document_id TEXT, title TEXT NOT NULL, body TEXT NOT NULL, created_at BIGINT NOT NULL, "
            "updated_at BIGINT NOT NULL)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS images (id TEXT PRIMARY KEY, user_id TEXT NOT NULL, "
                       "filename TEXT NOT NULL, content_type TEXT NOT NULL, size BIGINT NOT NULL, "
                       "created_at BIGINT NOT NULL, bytes %1 NOT NULL)")
            .arg(blob),
        QStringLiteral("CREATE INDEX IF NOT EXISTS images_user ON images (user_id, created_at)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS sign_in_peers (user_id TEXT NOT NULL, peer TEXT NOT NULL, "
                       "signed_in_at BIGINT NOT NULL, PRIMARY KEY (user_id, peer))"),
    };
    return transaction([&] {
        for (const QString &sql : statements) {
            if (!exec(sql))
                return false;
        }
        return addColumn(QStringLiteral("sessions"), QStringLiteral("rolled_to"), QStringLiteral("TEXT")) &&
               addColumn(QStringLiteral("documents"), QStringLiteral("body_bytes"),
                         QStringLiteral("BIGINT")) &&
               countStoredBodies();
    });
}

bool Storage::countStoredBodies()
{
    // Documents stored before bodies were counted get their count once.
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT user_id, id, record FROM documents WHERE body_bytes IS NULL"))) {
        m_error = storageError(q.lastError());
        return false;
    }
    QList<QVariantList> counts;
    while (q.next())
        counts.append({countedBytes(QJsonDocument::fromJson(q.value(2).toString().toUtf8()).object()),
                       q.value(0), q.value(1)});
    q.finish();
    QSqlQuery update(QSqlDatabase::database(m_connection, false));
    update.prepare(QStringLiteral("UPDATE documents SET body_bytes = ? WHERE user_id = ? AND id = ?"));
    for (const QVariantList &values : std::as_const(counts)) {
        if (!run(update, values, &m_error))
            return false;
    }
    return true;
}

bool Storage::addColumn(const QString &table, const QString &column, const QString &type)
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

bool Storage::transaction(const std::function<bool()> &work)
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

bool Storage::readTransaction(const std::function<bool()> &work)
{
    // SQLite's WAL reader keeps the snapshot of its first read until the
    // end; PostgreSQL needs repeatable read for that.
    return begin(m_postgres ? QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")
                            : QStringLiteral("BEGIN")) &&
           finish(work);
}

bool Storage::begin(const QString &statement)
{
    // Issued as plain statements: the driver's own transaction() can only
    // say "BEGIN".
    return exec(statement);
}

bool Storage::finish(const std::function<bool()> &work)
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

static std::optional<UserRow> readUser(QSqlQuery &q)
{
    if (!q.next())
        return std::nullopt;
    return UserRow{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                   q.value(3).toString(), q.value(4).toString(), q.value(5).toInt() != 0};
}

#define TESSIVO_USER_COLUMNS "SELECT id, email, name, password_hash, handle, is_admin FROM users "

std::optional<UserRow> Storage::userById(const QString &id)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral(TESSIVO_USER_COLUMNS "WHERE id = ?"));
    return run(q, {id}, &m_error) ? readUser(q) : std::nullopt;
}

std::optional<UserRow> Storage::userByEmail(const QString &email)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral(TESSIVO_USER_COLUMNS "WHERE email = ?"));
    return run(q, {email.toLower()}, &m_error) ? readUser(q) : std::nullopt;
}

std::optional<UserRow> Storage::userByHandle(const QString &handle)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral(TESSIVO_USER_COLUMNS "WHERE handle = ?"));
    return run(q, {handle.toLower()}, &m_error) ? readUser(q) : std::nullopt;
}

QStringList Storage::adminIds()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    QStringList ids;
    if (q.exec(QStringLiteral("SELECT id FROM users WHERE is_admin = 1"))) {
        while (q.next())
            ids << q.value(0).toString();
    }
    return ids;
}

bool Storage::insertUser(const UserRow &user, qint64 now, bool *inserted)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("INSERT INTO users (id, email, name, password_hash, handle, is_admin, created_at) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"));
    if (!run(q,
             {user.id, user.email.toLower(), user.name, user.passwordHash,
              nullableText(user.handle.toLower()), user.admin ? 1 : 0, now},
             &m_error))
        return false;
    *inserted = q.numRowsAffected() > 0;
    return true;
}

bool Storage::assignAdmins(const QStringList &emails, QStringList *missing)
{
    missing->clear();
    const bool assigned = transaction([&] {
        QSqlQuery clear(QSqlDatabase::database(m_connection, false));
        if (!clear.exec(QStringLiteral("UPDATE users SET is_admin = 0 WHERE is_admin <> 0"))) {
            m_error = storageError(clear.lastError());
            return false;
        }
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.prepare(QStringLiteral("UPDATE users SET is_admin = 1 WHERE email = ?"));
        for (const QString &email : emails) {
            if (!run(q, {email.toLower()}, &m_error))
                return false;
            if (q.numRowsAffected() < 1)
                missing->append(email.toLower());
        }
        return missing->isEmpty();
    });
    return assigned;
}

bool Storage::insertSession(const QByteArray &hash, const QString &userId, qint64 now)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("INSERT INTO sessions (token_hash, user_id, created_at) VALUES (?, ?, ?)"));
    return run(q, {QString::fromLatin1(hash), userId, now}, &m_error);
}

std::optional<SessionRow> Storage::session(const QByteArray &hash)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT user_id, created_at, expires_at FROM sessions WHERE token_hash = ?"));
    if (!run(q, {QString::fromLatin1(hash)}, &m_error) || !q.next())
        return std::nullopt;
    SessionRow row{q.value(0).toString(), q.value(1).toLongLong(), std::nullopt};
    if (!q.value(2).isNull())
        row.expiresAt = q.value(2).toLongLong();
    return row;
}

bool Storage::expireSession(const QByteArray &hash, qint64 at, const QByteArray &rolledTo)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("UPDATE sessions SET expires_at = ?, rolled_to = ? WHERE token_hash = ?"));
    return run(q, {at, QString::fromLatin1(rolledTo), QString::fromLatin1(hash)}, &m_error);
}

bool Storage::deleteSession(const QByteArray &hash)
{
    QSqlQuery find(QSqlDatabase::database(m_connection, false));
    find.prepare(QStringLiteral("SELECT rolled_to FROM sessions WHERE token_hash = ?"));
    if (!run(find, {QString::fromLatin1(hash)}, &m_error))
        return false;
    const QString rolledTo = find.next() ? find.value(0).toString() : QString();
    find.finish();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("DELETE FROM sessions WHERE token_hash = ? OR token_hash = ? OR rolled_to = ?"));
    return run(q, {QString::fromLatin1(hash), rolledTo, QString::fromLatin1(hash)}, &m_error);
}

bool Storage::deleteExpiredSessions(qint64 now, qint64 madeBefore)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral(
        "DELETE FROM sessions WHERE (expires_at IS NOT NULL AND expires_at <= ?) OR created_at < ?"));
    return run(q, {now, madeBefore}, &m_error);
}

bool Storage::recordSignInPeer(const QString &userId, const QString &peer, qint64 at, qint64 forgetBefore)
{
    QSqlQuery forget(QSqlDatabase::database(m_connection, false));
    forget.prepare(QStringLiteral("DELETE FROM sign_in_peers WHERE user_id = ? AND signed_in_at < ?"));
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("INSERT INTO sign_in_peers (user_id, peer, signed_in_at) VALUES (?, ?, ?) "
                       "ON CONFLICT (user_id, peer) DO UPDATE SET signed_in_at = excluded.signed_in_at"));
    return run(forget, {userId, forgetBefore}, &m_error) && run(q, {userId, peer, at}, &m_error);
}

bool Storage::signedInFrom(const QString &userId, const QString &peer, qint64 since)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("SELECT 1 FROM sign_in_peers WHERE user_id = ? AND peer = ? AND signed_in_at >= ?"));
    return run(q, {userId, peer, since}, &m_error) && q.next();
}

bool Storage::insertOneTimeToken(const QByteArray &hash, const QString &userId, qint64 expiresAt)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("INSERT INTO one_time_tokens (token_hash, user_id, expires_at) VALUES (?, ?, ?)"));
    return run(q, {QString::fromLatin1(hash), userId, expiresAt}, &m_error);
}

std::optional<QString> Storage::takeOneTimeToken(const QByteArray &hash, qint64 now)
{
    std::optional<QString> user;
    const bool ok = transaction([&] {
        // One statement claims the token, so two verifications racing in
        // separate service processes can't both get it.
        QSqlQuery claim(QSqlDatabase::database(m_connection, false));
        claim.prepare(
            QStringLiteral("DELETE FROM one_time_tokens WHERE token_hash = ? RETURNING user_id, expires_at"));
        if (!run(claim, {QString::fromLatin1(hash)}, &m_error))
            return false;
        if (claim.next() && claim.value(1).toLongLong() > now)
            user = claim.value(0).toString();
        claim.finish();
        QSqlQuery expired(QSqlDatabase::database(m_connection, false));
        expired.prepare(QStringLiteral("DELETE FROM one_time_tokens WHERE expires_at <= ?"));
        return run(expired, {now}, &m_error);
    });
    if (!ok)
        user.reset();
    return user;
}

bool Storage::changedRecords(RecordKind kind, const QString &userId, qint64 since, QList<QByteArray> *out)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT record FROM %1 WHERE user_id = ? AND stamp > ? ORDER BY stamp")
                  .arg(recordTable(kind)));
    if (!run(q, {userId, since}, &m_error))
        return false;
    while (q.next()) {
        QByteArray record = q.value(0).toString().toUtf8();
        // Records stored before pushes were checked as the app reads them
        // may not decode; one of them would fail every pull of its owner.
        const QString problem = recordProblem(kind, QJsonDocument::fromJson(record).object());
        if (!problem.isEmpty()) {
            qWarning("[sync] left a stored %s of user %s out of a pull: %s",
                     kind == RecordKind::Document ? "document" : "collection", qPrintable(userId),
                     qPrintable(problem));
            continue;
        }
        out->append(std::move(record));
    }
    return true;
}

bool Storage::putRecord(RecordKind kind, const QString &userId, QJsonObject record, qint64 stamp)
{
    record.insert(QStringLiteral("serverUpdatedAt"), stamp);
    QVariantList values = {userId, record.value(QLatin1String("id")).toString(),
                           QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)),
                           *protocol::records::updatedAt(record), stamp};
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (kind == RecordKind::Document) {
        values.append(countedBytes(record));
        q.prepare(QStringLiteral(
            "INSERT INTO documents (user_id, id, record, updated_at, stamp, body_bytes) "
            "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (user_id, id) DO UPDATE SET record = excluded.record, "
            "updated_at = excluded.updated_at, stamp = excluded.stamp, body_bytes = excluded.body_bytes"));
    } else {
        q.prepare(QStringLiteral(
            "INSERT INTO collections (user_id, id, record, updated_at, stamp) VALUES (?, ?, ?, ?, ?) "
            "ON CONFLICT (user_id, id) DO UPDATE SET record = excluded.record, "
            "updated_at = excluded.updated_at, stamp = excluded.stamp"));
    }
    return run(q, values, &m_error);
}

std::optional<qint64> Storage::storedBytes(const QString &userId)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("SELECT (SELECT COALESCE(SUM(body_bytes), 0) FROM documents WHERE user_id = ?) + "
                       "(SELECT COALESCE(SUM(size), 0) FROM images WHERE user_id = ?)"));
    if (!run(q, {userId, userId}, &m_error) || !q.next())
        return std::nullopt;
    return q.value(0).toLongLong();
}

bool Storage::lockAccount(const QString &userId)
{
    // SQLite's write transaction holds the whole database already.
    if (!m_postgres)
        return true;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT id FROM users WHERE id = ? FOR UPDATE"));
    return run(q, {userId}, &m_error);
}

std::optional<QJsonObject> Storage::record(RecordKind kind, const QString &userId, const QString &id)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT record FROM %1 WHERE user_id = ? AND id = ?").arg(recordTable(kind)));
    if (!run(q, {userId, id}, &m_error) || !q.next())
        return std::nullopt;
    return QJsonDocument::fromJson(q.value(0).toString().toUtf8()).object();
}

bool Storage::pushRecords(RecordKind kind, const QString &userId, const QJsonArray &records,
                          const std::function<qint64()> &stamp, QList<PushResult> *results)
{
    QSqlQuery find(QSqlDatabase::database(m_connection, false));
    find.prepare(QStringLiteral("SELECT updated_at, record FROM %1 WHERE user_id = ? AND id = ?")
                     .arg(recordTable(kind)));
    for (const QJsonValue &value : records) {
        const QJsonObject record = value.toObject();
        const QString problem = recordProblem(kind, value);
        const QJsonValue id = record.value(QLatin1String("id"));
        if (!problem.isEmpty()) {
            results->append({id.isString() ? id.toString() : QString(), "invalid", problem});
            continue;
        }
        if (!run(find, {userId, id.toString()}, &m_error))
            return false;
        const bool stored = find.next();
        const qint64 storedUpdatedAt = stored ? find.value(0).toLongLong() : 0;
        const QByteArray storedJson = stored ? find.value(1).toString().toUtf8() : QByteArray();
        find.finish();
        // Last writer by updatedAt wins; an older push re-stamps what is
        // stored so the pusher's next pull brings it back.
        if (!stored || *protocol::records::updatedAt(record) >= storedUpdatedAt) {
            if (kind == RecordKind::Document && stored &&
                !keepReplacedDocument(userId, QJsonDocument::fromJson(storedJson).object(), record, stamp))
                return false;
            if (!putRecord(kind, userId, record, stamp()))
                return false;
            results->append({id.toString(), "ok", {}});
        } else {
            if (!putRecord(kind, userId, QJsonDocument::fromJson(storedJson).object(), stamp()))
                return false;
            results->append({id.toString(), "stale", {}});
        }
    }
    return true;
}

// The pusher had not seen the stored version when it wrote its own (it
// carries an older server time, or none): the stored text would be gone
// from every computer, so it is kept as a conflicted copy, under the id the
// app gives the same loser, so that a copy is made once.
bool Storage::keepReplacedDocument(const QString &userId, const QJsonObject &stored,
                                   const QJsonObject &pushed, const std::function<qint64()> &stamp)
{
    const std::optional<qint64> storedStamp = optionalInteger(stored, "serverUpdatedAt");
    const std::optional<qint64> seen = optionalInteger(pushed, "serverUpdatedAt");
    if (seen && (!storedStamp || *storedStamp <= *seen))
        return true;
    const QString body = optionalString(stored, "body").value_or(QString());
    if (body.isEmpty() || body == optionalString(pushed, "body").value_or(QString()))
        return true;
    const QString id = stored.value(QLatin1String("id")).toString();
    const QString copyId =
        protocol::records::conflictedCopyId(id, optionalInteger(stored, "updatedAt").value_or(0));
    if (record(RecordKind::Document, userId, copyId))
        return true;
    const auto liveCollection = [&](const std::optional<QString> &collectionId) {
        if (!collectionId)
            return false;
        const std::optional<QJsonObject> c = record(RecordKind::Collection, userId, *collectionId);
        return c && !optionalInteger(*c, "deletedAt");
    };
    std::optional<QString> place = optionalString(stored, "collectionId");
    if (!liveCollection(place)) {
        place = optionalString(pushed, "collectionId");
        if (!liveCollection(place))
            place.reset();
    }
    const qint64 at = stamp();
    return putRecord(RecordKind::Document, userId,
                     protocol::records::conflictedCopy(stored, copyId, place, at), at);
}

bool Storage::liveDocuments(const QString &userId, QList<QJsonObject> *out)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT record FROM documents WHERE user_id = ?"));
    if (!run(q, {userId}, &m_error))
        return false;
    while (q.next()) {
        const QJsonObject doc = QJsonDocument::fromJson(q.value(0).toString().toUtf8()).object();
        if (doc.value(QLatin1String("deletedAt")).isUndefined() ||
            doc.value(QLatin1String("deletedAt")).isNull())
            out->append(doc);
    }
    return true;
}

qint64 Storage::lastStamp(const QString &userId)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    // Row lock on PostgreSQL, so two service processes can't hand out one
    // stamp twice; SQLite's write transaction already serialises them.
    q.prepare(QStringLiteral("SELECT last_stamp FROM users WHERE id = ?") +
              (m_postgres ? QStringLiteral(" FOR UPDATE") : QString()));
    return run(q, {userId}, &m_error) && q.next() ? q.value(0).toLongLong() : 0;
}

bool Storage::setLastStamp(const QString &userId, qint64 stamp)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("UPDATE users SET last_stamp = ? WHERE id = ?"));
    return run(q, {stamp, userId}, &m_error);
}

static PublicationRow readPublication(QSqlQuery &q)
{
    return {q.value(0).toString(), q.value(1).toString(),   q.value(2).toString(),  q.value(3).toString(),
            q.value(4).toString(), q.value(5).toLongLong(), q.value(6).toLongLong()};
}

#define TESSIVO_PUBLICATION_COLUMNS                                                                          \
    "SELECT slug, user_id, document_id, title, body, created_at, updated_at FROM publications "

std::optional<PublicationRow> Storage::publication(const QString &slug)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral(TESSIVO_PUBLICATION_COLUMNS "WHERE slug = ?"));
    if (!run(q, {slug}, &m_error) || !q.next())
        return std::nullopt;
    return readPublication(q);
}

bool Storage::insertPublication(const PublicationRow &row, bool *inserted)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("INSERT INTO publications (slug, user_id, document_id, title, body, created_at, "
                             "updated_at) VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (slug) DO NOTHING"));
    if (!run(q,
             {row.slug, row.userId, nullableText(row.documentId), row.title, row.body, row.createdAt,
              row.updatedAt},
             &m_error))
        return false;
    *inserted = q.numRowsAffected() > 0;
    return true;
}

bool Storage::updatePublication(const PublicationRow &row, bool *found)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("UPDATE publications SET document_id = ?, title = ?, body = ?, updated_at = ? "
                             "WHERE slug = ? AND user_id = ?"));
    if (!run(q, {nullableText(row.documentId), row.title, row.body, row.updatedAt, row.slug, row.userId},
             &m_error))
        return false;
    *found = q.numRowsAffected() > 0;
    return true;
}

bool Storage::deletePublication(const QString &userId, const QString &slug, bool *found)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("DELETE FROM publications WHERE slug = ? AND user_id = ?"));
    if (!run(q, {slug, userId}, &m_error))
        return false;
    *found = q.numRowsAffected() > 0;
    return true;
}

QList<PublicationRow> Storage::publicationsOf(const QStringList &userIds)
{
    QList<PublicationRow> rows;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral(TESSIVO_PUBLICATION_COLUMNS "WHERE user_id = ? ORDER BY created_at DESC"));
    for (const QString &id : userIds) {
        if (!run(q, {id}, &m_error))
            continue;
        while (q.next())
            rows.append(readPublication(q));
    }
    std::sort(rows.begin(), rows.end(),
              [](const auto &a, const auto &b) { return a.createdAt > b.createdAt; });
    return rows;
}

bool Storage::insertImage(const ImageRow &row, const QByteArray &bytes)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("INSERT INTO images (id, user_id, filename, content_type, size, created_at, bytes) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?)"));
    return run(q, {row.id, row.userId, row.filename, row.contentType, row.size, row.createdAt, bytes},
               &m_error);
}

QList<ImageRow> Storage::imagesOf(const QString &userId)
{
    QList<ImageRow> rows;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT id, user_id, filename, content_type, size, created_at FROM images "
                             "WHERE user_id = ? ORDER BY created_at DESC, id"));
    if (run(q, {userId}, &m_error)) {
        while (q.next())
            rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                         q.value(3).toString(), q.value(4).toLongLong(), q.value(5).toLongLong()});
    }
    return rows;
}

std::optional<ImageRow> Storage::image(const QString &id, QByteArray *bytes)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT id, user_id, filename, content_type, size, created_at%1 FROM images "
                             "WHERE id = ?")
                  .arg(bytes ? QStringLiteral(", bytes") : QString()));
    if (!run(q, {id}, &m_error) || !q.next())
        return std::nullopt;
    if (bytes)
        *bytes = q.value(6).toByteArray();
    return ImageRow{q.value(0).toString(), q.value(1).toString(),   q.value(2).toString(),
                    q.value(3).toString(), q.value(4).toLongLong(), q.value(5).toLongLong()};
}

bool Storage::imagePiece(const QString &id, qint64 offset, qint64 length, QByteArray *out)
{
    // Both databases count blob positions from 1.
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(m_postgres ? QStringLiteral("SELECT substring(bytes from ? for ?) FROM images WHERE id = ?")
                         : QStringLiteral("SELECT substr(bytes, ?, ?) FROM images WHERE id = ?"));
    if (!run(q, {offset + 1, length, id}, &m_error))
        return false;
    if (!q.next()) {
        m_error = {QStringLiteral("the image is gone")};
        return false;
    }
    *out = q.value(0).toByteArray();
    return true;
}

} // namespace tessivo::server
