#include "Storage.h"

#include <QSqlQuery>

namespace tessivo::server {

bool Storage::insertImage(const ImageRow &row, const QByteArray &bytes)
{
    QSqlQuery q(connection());
    q.prepare(
        QStringLiteral("INSERT INTO images (id, user_id, filename, content_type, size, created_at, bytes, "
                       "stored_bytes) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    return run(q, {row.id, row.userId, row.filename, row.contentType, row.size, row.createdAt, bytes,
                   countedBytes(row)});
}

QList<ImageRow> Storage::imagesOf(const QString &userId)
{
    QList<ImageRow> rows;
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT id, user_id, filename, content_type, size, created_at FROM images "
                             "WHERE user_id = ? ORDER BY created_at DESC, id"));
    if (run(q, {userId})) {
        while (q.next())
            rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                         q.value(3).toString(), q.value(4).toLongLong(), q.value(5).toLongLong()});
    }
    return rows;
}

std::optional<ImageRow> Storage::image(const QString &id, QByteArray *bytes)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT id, user_id, filename, content_type, size, created_at%1 FROM images "
                             "WHERE id = ?")
                  .arg(bytes ? QStringLiteral(", bytes") : QString()));
    if (!run(q, {id}) || !q.next())
        return std::nullopt;
    if (bytes)
        *bytes = q.value(6).toByteArray();
    return ImageRow{q.value(0).toString(), q.value(1).toString(),   q.value(2).toString(),
                    q.value(3).toString(), q.value(4).toLongLong(), q.value(5).toLongLong()};
}

bool Storage::imagePiece(const QString &id, qint64 offset, qint64 length, QByteArray *out)
{
    // Both databases count blob positions from 1.
    QSqlQuery q(connection());
    q.prepare(postgres() ? QStringLiteral("SELECT substring(bytes from ? for ?) FROM images WHERE id = ?")
                         : QStringLiteral("SELECT substr(bytes, ?, ?) FROM images WHERE id = ?"));
    if (!run(q, {offset + 1, length, id}))
        return false;
    if (!q.next()) {
        fail(QStringLiteral("the image is gone"));
        return false;
    }
    *out = q.value(0).toByteArray();
    return true;
}

} // namespace tessivo::server
