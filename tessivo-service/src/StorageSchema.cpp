#include "Storage.h"

#include <QJsonDocument>
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
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT user_id, id, record FROM documents WHERE body_bytes IS NULL"))) {
        fail(q.lastError());
        return false;
    }
    QList<QVariantList> counts;
    while (q.next())
        counts.append({countedBytes(QJsonDocument::fromJson(q.value(2).toString().toUtf8()).object()),
                       q.value(0), q.value(1)});
    q.finish();
    QSqlQuery update(connection());
    update.prepare(QStringLiteral("UPDATE documents SET body_bytes = ? WHERE user_id = ? AND id = ?"));
    for (const QVariantList &values : std::as_const(counts)) {
        if (!run(update, values))
            return false;
    }
    return true;
}

} // namespace tessivo::server
