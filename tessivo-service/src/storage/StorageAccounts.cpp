#include "Storage.h"

#include <QSqlError>
#include <QSqlQuery>

namespace tessivo::server {

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
    QSqlQuery q(connection());
    q.prepare(QStringLiteral(TESSIVO_USER_COLUMNS "WHERE id = ?"));
    return run(q, {id}) ? readUser(q) : std::nullopt;
}

std::optional<UserRow> Storage::userByEmail(const QString &email)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral(TESSIVO_USER_COLUMNS "WHERE email = ?"));
    return run(q, {email.toLower()}) ? readUser(q) : std::nullopt;
}

std::optional<UserRow> Storage::userByHandle(const QString &handle)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral(TESSIVO_USER_COLUMNS "WHERE handle = ?"));
    return run(q, {handle.toLower()}) ? readUser(q) : std::nullopt;
}

QStringList Storage::adminIds()
{
    QSqlQuery q(connection());
    QStringList ids;
    if (q.exec(QStringLiteral("SELECT id FROM users WHERE is_admin = 1"))) {
        while (q.next())
            ids << q.value(0).toString();
    }
    return ids;
}

bool Storage::insertUser(const UserRow &user, qint64 now, bool *inserted)
{
    QSqlQuery q(connection());
    q.prepare(
        QStringLiteral("INSERT INTO users (id, email, name, password_hash, handle, is_admin, created_at) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING"));
    if (!run(q, {user.id, user.email.toLower(), user.name, user.passwordHash,
                 nullableText(user.handle.toLower()), user.admin ? 1 : 0, now}))
        return false;
    *inserted = q.numRowsAffected() > 0;
    return true;
}

bool Storage::assignAdmins(const QStringList &emails, QStringList *missing)
{
    missing->clear();
    const bool assigned = transaction([&] {
        QSqlQuery clear(connection());
        if (!clear.exec(QStringLiteral("UPDATE users SET is_admin = 0 WHERE is_admin <> 0"))) {
            fail(clear.lastError());
            return false;
        }
        QSqlQuery q(connection());
        q.prepare(QStringLiteral("UPDATE users SET is_admin = 1 WHERE email = ?"));
        for (const QString &email : emails) {
            if (!run(q, {email.toLower()}))
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
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("INSERT INTO sessions (token_hash, user_id, created_at) VALUES (?, ?, ?)"));
    return run(q, {QString::fromLatin1(hash), userId, now});
}

std::optional<SessionRow> Storage::session(const QByteArray &hash)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT user_id, created_at, expires_at FROM sessions WHERE token_hash = ?"));
    if (!run(q, {QString::fromLatin1(hash)}) || !q.next())
        return std::nullopt;
    SessionRow row{q.value(0).toString(), q.value(1).toLongLong(), std::nullopt};
    if (!q.value(2).isNull())
        row.expiresAt = q.value(2).toLongLong();
    return row;
}

bool Storage::expireSession(const QByteArray &hash, qint64 at, const QByteArray &rolledTo)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("UPDATE sessions SET expires_at = ?, rolled_to = ? WHERE token_hash = ?"));
    return run(q, {at, QString::fromLatin1(rolledTo), QString::fromLatin1(hash)});
}

bool Storage::deleteSession(const QByteArray &hash)
{
    QSqlQuery find(connection());
    find.prepare(QStringLiteral("SELECT rolled_to FROM sessions WHERE token_hash = ?"));
    if (!run(find, {QString::fromLatin1(hash)}))
        return false;
    const QString rolledTo = find.next() ? find.value(0).toString() : QString();
    find.finish();
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("DELETE FROM sessions WHERE token_hash = ? OR token_hash = ? OR rolled_to = ?"));
    return run(q, {QString::fromLatin1(hash), rolledTo, QString::fromLatin1(hash)});
}

bool Storage::deleteExpiredSessions(qint64 now, qint64 madeBefore)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral(
        "DELETE FROM sessions WHERE (expires_at IS NOT NULL AND expires_at <= ?) OR created_at < ?"));
    return run(q, {now, madeBefore});
}

bool Storage::recordSignInPeer(const QString &userId, const QString &peer, qint64 at, qint64 forgetBefore)
{
    QSqlQuery forget(connection());
    forget.prepare(QStringLiteral("DELETE FROM sign_in_peers WHERE user_id = ? AND signed_in_at < ?"));
    QSqlQuery q(connection());
    q.prepare(
        QStringLiteral("INSERT INTO sign_in_peers (user_id, peer, signed_in_at) VALUES (?, ?, ?) "
                       "ON CONFLICT (user_id, peer) DO UPDATE SET signed_in_at = excluded.signed_in_at"));
    return run(forget, {userId, forgetBefore}) && run(q, {userId, peer, at});
}

bool Storage::signedInFrom(const QString &userId, const QString &peer, qint64 since)
{
    QSqlQuery q(connection());
    q.prepare(
        QStringLiteral("SELECT 1 FROM sign_in_peers WHERE user_id = ? AND peer = ? AND signed_in_at >= ?"));
    return run(q, {userId, peer, since}) && q.next();
}

bool Storage::insertOneTimeToken(const QByteArray &hash, const QString &userId, qint64 expiresAt)
{
    QSqlQuery q(connection());
    q.prepare(
        QStringLiteral("INSERT INTO one_time_tokens (token_hash, user_id, expires_at) VALUES (?, ?, ?)"));
    return run(q, {QString::fromLatin1(hash), userId, expiresAt});
}

std::optional<QString> Storage::takeOneTimeToken(const QByteArray &hash, qint64 now)
{
    std::optional<QString> user;
    const bool ok = transaction([&] {
        // One statement claims the token, so two verifications racing in
        // separate service processes can't both get it.
        QSqlQuery claim(connection());
        claim.prepare(
            QStringLiteral("DELETE FROM one_time_tokens WHERE token_hash = ? RETURNING user_id, expires_at"));
        if (!run(claim, {QString::fromLatin1(hash)}))
            return false;
        if (claim.next() && claim.value(1).toLongLong() > now)
            user = claim.value(0).toString();
        claim.finish();
        QSqlQuery expired(connection());
        expired.prepare(QStringLiteral("DELETE FROM one_time_tokens WHERE expires_at <= ?"));
        return run(expired, {now});
    });
    if (!ok)
        user.reset();
    return user;
}

} // namespace tessivo::server
