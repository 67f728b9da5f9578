#include "RouteContext.h"

#include "Credentials.h"

#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QUuid>

namespace tessivo::server {

qint64 ServiceClock::now() const
{
    QMutexLocker lock(&m_mutex);
    return m_now ? m_now() : QDateTime::currentMSecsSinceEpoch();
}

void ServiceClock::set(std::function<qint64()> now)
{
    QMutexLocker lock(&m_mutex);
    m_now = std::move(now);
}

std::optional<UserRow> RouteContext::authenticate(const LoggedRequest &request, HeaderList *headers)
{
    const QByteArray token = bearerToken(request);
    if (token.isEmpty())
        return std::nullopt;
    const QByteArray hash = tokenHash(QString::fromLatin1(token));
    const std::optional<SessionRow> session = storage.session(hash);
    const qint64 t = now();
    if (!session || !session->liveAt(t, options.sessionLifetimeMs))
        return std::nullopt;
    std::optional<UserRow> user = storage.userById(session->userId);
    if (!user)
        return std::nullopt;
    // Old sessions roll: the client adopts the new token from any reply,
    // and the old one lives on briefly for requests already under way.
    if (!session->expiresAt && t - session->createdAt >= options.sessionRollAfterMs) {
        const QString next = newToken();
        const bool rolled = storage.transaction([&] {
            return storage.insertSession(tokenHash(next), user->id, t) &&
                   storage.expireSession(hash, t + options.sessionGraceMs, tokenHash(next)) &&
                   storage.deleteExpiredSessions(t, t - options.sessionLifetimeMs);
        });
        if (rolled)
            headers->append({"set-auth-token", next.toLatin1()});
    }
    return user;
}

QString RouteContext::issueSession(const QString &userId)
{
    const QString token = newToken();
    if (!storage.transaction([&] { return storage.insertSession(tokenHash(token), userId, now()); }))
        return {};
    return token;
}

QString RouteContext::mintOneTimeToken(const QString &userId)
{
    const QString token = newToken();
    if (!storage.transaction([&] {
            return storage.insertOneTimeToken(tokenHash(token), userId,
                                              now() + options.oneTimeTokenLifetimeMs);
        }))
        return {};
    return token;
}

std::optional<UserRow> RouteContext::createUser(const QString &email, const QString &name,
                                                const QString &password, const QString &handle, bool admin,
                                                QString *error, bool *unsaved)
{
    UserRow user{QUuid::createUuid().toString(QUuid::WithoutBraces),
                 email.trimmed().toLower(),
                 name.trimmed(),
                 {},
                 handle.toLower(),
                 admin};
    const auto taken = [&] {
        if (storage.userByEmail(user.email))
            *error = QStringLiteral("An account with this e-mail address already exists.");
        else if (!user.handle.isEmpty() && storage.userByHandle(user.handle))
            *error = QStringLiteral("This site handle is taken.");
        return !error->isEmpty();
    };
    error->clear();
    // Looked at before the password is hashed, which takes a processor for
    // about half a second: a taken address costs the service nothing more.
    if (taken())
        return std::nullopt;
    QByteArray salt(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()), salt.size() / 4);
    user.passwordHash = passwordHash(password, salt, options.passwordIterations);
    // The address and the handle are claimed by the insert itself: of two
    // sign-ups at once, both saw them free above.
    bool inserted = false;
    if (!storage.transaction([&] { return storage.insertUser(user, now(), &inserted); })) {
        *error = QStringLiteral("The service couldn't save your account.");
        if (unsaved)
            *unsaved = true;
        return std::nullopt;
    }
    if (!inserted) {
        if (!taken())
            *error = QStringLiteral("An account with this e-mail address already exists.");
        return std::nullopt;
    }
    return user;
}

QString RouteContext::publicBase(const LoggedRequest &) const
{
    // Set at start: the --public-url, or localhost on a loopback-only
    // service. Never the request's Host header, which the client chooses.
    return options.publicUrl;
}

} // namespace tessivo::server
