#include "Storage.h"

#include <QSqlError>
#include <QSqlQuery>

namespace tessivo::server {

bool Storage::open(const QString &spec, QString *error)
{
    if (!connect(spec, error))
        return false;
    if (!createSchema()) {
        if (error)
            *error = lastError();
        return false;
    }
    return true;
}

bool Storage::createSchema()
{
    const QString blob = postgres() ? QStringLiteral("BYTEA") : QStringLiteral("BLOB");
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
        QStringLiteral("CREATE TABLE IF NOT EXISTS collections (user_id TEXT NOT NULL, id TEXT NOT NULL, "
                       "record TEXT NOT NULL, updated_at BIGINT NOT NULL, stamp BIGINT NOT NULL, "
                       "PRIMARY KEY (user_id, id))"),
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
    // Pieces of a pull are cut by the stored sizes in stamp order, and a
    // quota sums them: an index holding both answers either without
    // reading a record.
    const QStringList indexes = {
        QStringLiteral("DROP INDEX IF EXISTS documents_stamp"),
        QStringLiteral("DROP INDEX IF EXISTS collections_stamp"),
        QStringLiteral(
            "CREATE INDEX IF NOT EXISTS documents_pieces ON documents (user_id, stamp, stored_bytes)"),
        QStringLiteral(
            "CREATE INDEX IF NOT EXISTS collections_pieces ON collections (user_id, stamp, stored_bytes)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS publications_user ON publications (user_id)"),
    };
    const QString bigint = QStringLiteral("BIGINT");
    return transaction([&] {
        for (const QString &sql : statements) {
            if (!exec(sql))
                return false;
        }
        if (!addColumn(QStringLiteral("sessions"), QStringLiteral("rolled_to"), QStringLiteral("TEXT")))
            return false;
        for (const QString &table : {QStringLiteral("documents"), QStringLiteral("collections"),
                                     QStringLiteral("publications"), QStringLiteral("images")}) {
            if (!addColumn(table, QStringLiteral("stored_bytes"), bigint))
                return false;
        }
        for (const QString &sql : indexes) {
            if (!exec(sql))
                return false;
        }
        return countStoredRows();
    });
}

bool Storage::countStoredRows()
{
    // Rows stored before each kept its count get it once, measured as a row
    // written now is. `measured` gives the count, then the row's key.
    const auto count = [&](const QString &select, const QString &update,
                           const std::function<QVariantList(const QSqlQuery &)> &measured) {
        QList<QVariantList> counts;
        {
            QSqlQuery q(connection());
            q.setForwardOnly(true);
            q.prepare(select);
            if (!run(q, {}))
                return false;
            while (q.next())
                counts.append(measured(q));
        }
        QSqlQuery q(connection());
        q.prepare(update);
        for (const QVariantList &values : counts) {
            if (!run(q, values))
                return false;
        }
        return true;
    };
    for (const QString &table : {QStringLiteral("documents"), QStringLiteral("collections")}) {
        if (!count(
                QStringLiteral("SELECT record, user_id, id FROM %1 WHERE stored_bytes IS NULL").arg(table),
                QStringLiteral("UPDATE %1 SET stored_bytes = ? WHERE user_id = ? AND id = ?").arg(table),
                [](const QSqlQuery &q) {
                    return QVariantList{countedBytes(q.value(0).toString().toUtf8()), q.value(1), q.value(2)};
                }))
            return false;
    }
    return count(QStringLiteral("SELECT slug, document_id, title, body FROM publications "
                                "WHERE stored_bytes IS NULL"),
                 QStringLiteral("UPDATE publications SET stored_bytes = ? WHERE slug = ?"),
                 [](const QSqlQuery &q) {
                     PublicationRow row;
                     row.slug = q.value(0).toString();
                     row.documentId = q.value(1).toString();
                     row.title = q.value(2).toString();
                     row.body = q.value(3).toString();
                     return QVariantList{countedBytes(row), row.slug};
                 }) &&
           count(QStringLiteral(
                     "SELECT id, filename, content_type, size FROM images WHERE stored_bytes IS NULL"),
                 QStringLiteral("UPDATE images SET stored_bytes = ? WHERE id = ?"), [](const QSqlQuery &q) {
                     ImageRow row;
                     row.id = q.value(0).toString();
                     row.filename = q.value(1).toString();
                     row.contentType = q.value(2).toString();
                     row.size = q.value(3).toLongLong();
                     return QVariantList{countedBytes(row), row.id};
                 });
}

} // namespace tessivo::server
