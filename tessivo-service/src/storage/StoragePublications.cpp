#include "Storage.h"

#include <QSqlQuery>

#include <algorithm>

namespace tessivo::server {

static PublicationRow readPublication(QSqlQuery &q)
{
    return {q.value(0).toString(), q.value(1).toString(),   q.value(2).toString(),  q.value(3).toString(),
            q.value(4).toString(), q.value(5).toLongLong(), q.value(6).toLongLong()};
}

#define TESSIVO_PUBLICATION_COLUMNS                                                                          \
    "SELECT slug, user_id, document_id, title, body, created_at, updated_at FROM publications "

std::optional<PublicationRow> Storage::publication(const QString &slug)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral(TESSIVO_PUBLICATION_COLUMNS "WHERE slug = ?"));
    if (!run(q, {slug}) || !q.next())
        return std::nullopt;
    return readPublication(q);
}

bool Storage::insertPublication(const PublicationRow &row, bool *inserted)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("INSERT INTO publications (slug, user_id, document_id, title, body, created_at, "
                             "updated_at, stored_bytes) VALUES (?, ?, ?, ?, ?, ?, ?, ?) "
                             "ON CONFLICT (slug) DO NOTHING"));
    if (!run(q, {row.slug, row.userId, nullableText(row.documentId), row.title, row.body, row.createdAt,
                 row.updatedAt, countedBytes(row)}))
        return false;
    *inserted = q.numRowsAffected() > 0;
    return true;
}

bool Storage::updatePublication(const PublicationRow &row, bool *found)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("UPDATE publications SET document_id = ?, title = ?, body = ?, updated_at = ?, "
                             "stored_bytes = ? WHERE slug = ? AND user_id = ?"));
    if (!run(q, {nullableText(row.documentId), row.title, row.body, row.updatedAt, countedBytes(row),
                 row.slug, row.userId}))
        return false;
    *found = q.numRowsAffected() > 0;
    return true;
}

bool Storage::deletePublication(const QString &userId, const QString &slug, bool *found)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("DELETE FROM publications WHERE slug = ? AND user_id = ?"));
    if (!run(q, {slug, userId}))
        return false;
    *found = q.numRowsAffected() > 0;
    return true;
}

QList<PublicationRow> Storage::publicationsOf(const QStringList &userIds)
{
    QList<PublicationRow> rows;
    QSqlQuery q(connection());
    q.prepare(QStringLiteral(TESSIVO_PUBLICATION_COLUMNS "WHERE user_id = ? ORDER BY created_at DESC"));
    for (const QString &id : userIds) {
        if (!run(q, {id}))
            continue;
        while (q.next())
            rows.append(readPublication(q));
    }
    std::sort(rows.begin(), rows.end(),
              [](const auto &a, const auto &b) { return a.createdAt > b.createdAt; });
    return rows;
}

} // namespace tessivo::server
