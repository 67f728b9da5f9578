#include "Storage.h"

#include <QSqlQuery>

namespace tessivo::server {

qint64 Storage::countedBytes(QByteArrayView storedRecord)
{
    return storedRecord.size();
}

qint64 Storage::countedBytes(const PublicationRow &row)
{
    return row.slug.toUtf8().size() + row.documentId.toUtf8().size() + row.title.toUtf8().size() +
           row.body.toUtf8().size();
}

qint64 Storage::countedBytes(const ImageRow &row)
{
    return row.size + row.filename.toUtf8().size() + row.contentType.toUtf8().size();
}

std::optional<qint64> Storage::storedBytes(const QString &userId)
{
    // Each row keeps what it counts, written with it.
    QString sql = QStringLiteral("SELECT 0");
    QVariantList values;
    for (const char *table : {"documents", "collections", "publications", "images"}) {
        sql += QStringLiteral(" + (SELECT COALESCE(SUM(stored_bytes), 0) FROM %1 WHERE user_id = ?)")
                   .arg(QLatin1String(table));
        values.append(userId);
    }
    QSqlQuery q(connection());
    q.prepare(sql);
    if (!run(q, values) || !q.next())
        return std::nullopt;
    return q.value(0).toLongLong();
}

bool Storage::lockAccount(const QString &userId)
{
    // SQLite's write transaction holds the whole database already.
    if (!postgres())
        return true;
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT id FROM users WHERE id = ? FOR UPDATE"));
    return run(q, {userId});
}

Storage::QuotaOutcome Storage::writeWithinQuota(const QString &userId, qint64 quota, qint64 growthAtMost,
                                                const std::function<std::optional<qint64>()> &growth,
                                                const std::function<bool(qint64 *exempt)> &write)
{
    // Locked first, and summed by a later statement: on PostgreSQL a
    // statement sees what was committed before it began, so the sum counts
    // every write to the account that held the lock before this one. A
    // publish that then waits on a slug another account is claiming holds
    // back only its own account's writes.
    if (!lockAccount(userId))
        return QuotaOutcome::failed;
    const std::optional<qint64> before = storedBytes(userId);
    if (!before)
        return QuotaOutcome::failed;
    // Refused before anything is written: a rolled-back write would still
    // leave its pages in the database's files for a while.
    if (growthAtMost > 0 && *before + growthAtMost > quota) {
        const std::optional<qint64> expected = growth();
        if (!expected)
            return QuotaOutcome::failed;
        if (*expected > 0 && *before + *expected > quota)
            return QuotaOutcome::overQuota;
    }
    qint64 exempt = 0;
    if (!write(&exempt))
        return QuotaOutcome::failed;
    const std::optional<qint64> after = storedBytes(userId);
    if (!after)
        return QuotaOutcome::failed;
    const qint64 counted = *after - exempt;
    if (counted > *before && counted > quota)
        return QuotaOutcome::overQuota;
    // The exempt copies are kept only up to twice the quota, so that a
    // client can't fill the disk with them; its own text is still its own.
    return *after > *before && *after > 2 * quota ? QuotaOutcome::overQuota : QuotaOutcome::written;
}

} // namespace tessivo::server
