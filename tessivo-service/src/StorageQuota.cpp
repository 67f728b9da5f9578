#include "Storage.h"

#include <QSqlQuery>

namespace tessivo::server {

qint64 Storage::countedBytes(const PublicationRow &row)
{
    return row.slug.toUtf8().size() + row.documentId.toUtf8().size() + row.title.toUtf8().size() +
           row.body.toUtf8().size();
}

qint64 Storage::countedBytes(const ImageRow &row)
{
    return row.size + row.filename.toUtf8().size() + row.contentType.toUtf8().size();
}

std::optional<qint64> Storage::storedBytes(const QString &userId, bool lock)
{
    const QString sum = QStringLiteral("(SELECT COALESCE(SUM(%1), 0) FROM %2 WHERE user_id = ?)");
    const QString stored = QStringLiteral("stored_bytes");
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT ") + sum.arg(stored, QStringLiteral("documents")) +
              QStringLiteral(" + ") + sum.arg(stored, QStringLiteral("collections")) + QStringLiteral(" + ") +
              sum.arg(stored, QStringLiteral("publications")) + QStringLiteral(" + ") +
              sum.arg(QStringLiteral("size + ") + byteLength(QStringLiteral("filename")) +
                          QStringLiteral(" + ") + byteLength(QStringLiteral("content_type")),
                      QStringLiteral("images")) +
              // SQLite's write transaction holds the whole database already.
              (lock && postgres() ? QStringLiteral(" FROM users WHERE id = ? FOR UPDATE") : QString()));
    QVariantList values = {userId, userId, userId, userId};
    if (lock && postgres())
        values.append(userId);
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
    // Locked only now, so that a write waiting on its own rows (a slug
    // another publish is claiming) holds nobody back. Another writer that
    // got in since `before` is counted in `after`: the account stays
    // within its quota, the second writer taking the blame.
    const std::optional<qint64> after = storedBytes(userId, true);
    if (!after)
        return QuotaOutcome::failed;
    const qint64 counted = *after - exempt;
    return counted > *before && counted > quota ? QuotaOutcome::overQuota : QuotaOutcome::written;
}

} // namespace tessivo::server
