#include "RouteContext.h"

#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QUuid>

namespace tessivo::server {

Reply jsonReply(int status, const QJsonObject &object)
{
    return {
        status, {{"content-type", "application/json"}}, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

Reply errorReply(int status, const QByteArray &code, const QString &message)
{
    return jsonReply(status, ErrorBody{QString::fromLatin1(code), message}.toJson());
}

Reply unauthorizedReply()
{
    return jsonReply(401, ErrorBody::unauthorized().toJson());
}

Reply redirectToApp(QLatin1StringView item, const QString &value)
{
    return {303, {{"location", protocol::signInCallback::link(item, value)}}, {}};
}

bool isFor(const LoggedRequest &request, protocol::Endpoint endpoint)
{
    const protocol::Route *route = protocol::matchRoute(request.method, request.path).route;
    return route && route->endpoint == endpoint;
}

Reply quotaExceededReply()
{
    return errorReply(413, "quota_exceeded", QStringLiteral("Your storage on this service is full."));
}

Reply unavailableReply()
{
    return errorReply(503, "unavailable",
                      QStringLiteral("The service can't save right now. Try again later."));
}

Reply htmlReply(int status, const QString &html)
{
    // Pages show what users wrote: no scripts, no styles of theirs, no forms
    // posting elsewhere, and no framing by another site's page.
    return {status,
            {{"content-type", "text/html; charset=utf-8"},
             {"content-security-policy", "default-src 'none'; img-src * data:; style-src 'self'; "
                                         "form-action 'self' tessivo:; frame-ancestors 'none'"},
             {"x-frame-options", "DENY"},
             {"x-content-type-options", "nosniff"}},
            html.toUtf8()};
}

QString htmlEscape(const QString &text)
{
    return text.toHtmlEscaped();
}

namespace {
bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

bool isBidiControl(QChar c)
{
    return (c.unicode() >= 0x202a && c.unicode() <= 0x202e) ||
           (c.unicode() >= 0x2066 && c.unicode() <= 0x2069);
}
} // namespace

bool hasControlCharacter(QStringView text)
{
    return std::any_of(text.begin(), text.end(), isControl);
}

QString withoutControlCharacters(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (!isControl(c) && !isBidiControl(c))
            out += c;
    }
    return out;
}

QString newToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray tokenHash(const QString &token)
{
    return QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex();
}

QByteArray bearerToken(const LoggedRequest &request)
{
    return protocol::bearerToken(request.header("authorization"));
}

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

QString passwordHash(const QString &password, const QByteArray &salt, int iterations)
{
    const QByteArray key = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(),
                                                              salt, iterations, 32);
    return QStringLiteral("pbkdf2-sha256$%1$%2$%3")
        .arg(iterations)
        .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(key.toBase64()));
}

bool passwordMatches(const QString &password, const QString &stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts[0] != QLatin1String("pbkdf2-sha256"))
        return false;
    const QString expected =
        passwordHash(password, QByteArray::fromBase64(parts[2].toLatin1()), parts[1].toInt());
    // Compare without an early exit so timing says nothing about the hash.
    if (expected.size() != stored.size())
        return false;
    int difference = 0;
    for (qsizetype i = 0; i < expected.size(); ++i)
        difference |= expected[i].unicode() ^ stored[i].unicode();
    return difference == 0;
}

std::optional<UserRow> RouteContext::createUser(const QString &email, const QString &name,
                                                const QString &password, const QString &handle, bool admin,
                                                QString *error, bool *unsaved)
{
    QByteArray salt(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()), salt.size() / 4);
    UserRow user{
        QUuid::createUuid().toString(QUuid::WithoutBraces),       email.trimmed().toLower(), name.trimmed(),
        passwordHash(password, salt, options.passwordIterations), handle.toLower(),          admin};
    if (storage.userByEmail(user.email)) {
        *error = QStringLiteral("An account with this e-mail address already exists.");
        return std::nullopt;
    }
    if (!user.handle.isEmpty() && storage.userByHandle(user.handle)) {
        *error = QStringLiteral("This site handle is taken.");
        return std::nullopt;
    }
    if (!storage.transaction([&] { return storage.insertUser(user, now()); })) {
        *error = QStringLiteral("The service couldn't save your account.");
        if (unsaved)
            *unsaved = true;
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
