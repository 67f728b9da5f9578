#include "Server.h"

#include "ServerPrivate.h"

#include "protocol/Routes.h"
#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>
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

Reply htmlReply(int status, const QString &html)
{
    // Pages show what users wrote: no scripts, no forms posting elsewhere.
    return {status,
            {{"content-type", "text/html; charset=utf-8"},
             {"content-security-policy",
              "default-src 'none'; img-src * data:; style-src 'unsafe-inline'; form-action 'self' tessivo:"},
             {"x-content-type-options", "nosniff"}},
            html.toUtf8()};
}

QString htmlEscape(const QString &text)
{
    return text.toHtmlEscaped();
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

QByteArray LoggedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool LoggedRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

Server::Server(ServerOptions options, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>(this, std::move(options)))
{
    d->network.setCookieJar(nullptr);
    d->network.setAutoDeleteReplies(true);
}

Server::~Server()
{
    stop();
}

bool Server::start(QString *error)
{
    if (!d->storage.open(d->options.database, error))
        return false;
    for (const QString &email : d->options.adminEmails)
        d->storage.setAdmin(email);
    QList<QPair<QHostAddress, quint16>> addresses = d->options.listen;
    const bool defaults = addresses.isEmpty();
    if (defaults)
        addresses = {{QHostAddress(QHostAddress::LocalHost), d->options.port},
                     {QHostAddress(QHostAddress::LocalHostIPv6), d->options.port}};
    for (auto [address, port] : addresses) {
        // Loopback defaults share the port the first one was given.
        if (defaults && !d->listeners.isEmpty())
            port = d->listeners.first()->serverPort();
        auto *listener = new QTcpServer(this);
        if (!listener->listen(address, port)) {
            const QString message = listener->errorString();
            delete listener;
            if (defaults && !d->listeners.isEmpty())
                continue; // no IPv6 loopback on this machine
            if (error)
                *error = QStringLiteral("Couldn't listen on %1 port %2: %3")
                             .arg(address.toString())
                             .arg(port)
                             .arg(message);
            stop();
            return false;
        }
        connect(listener, &QTcpServer::newConnection, this, [this, listener] { d->accept(listener); });
        d->listeners.append(listener);
    }
    return true;
}

void Server::stop()
{
    for (QTcpServer *listener : std::as_const(d->listeners)) {
        listener->close();
        listener->deleteLater();
    }
    d->listeners.clear();
    // Open keep-alive connections go too: a stopped service is unreachable.
    for (HttpConnection *connection : findChildren<HttpConnection *>())
        connection->abort();
    d->storage.close();
}

QUrl Server::baseUrl() const
{
    if (d->listeners.isEmpty())
        return {};
    const QTcpServer *first = d->listeners.first();
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(first->serverAddress().toString());
    url.setPort(first->serverPort());
    return url;
}

quint16 Server::port() const
{
    return d->listeners.isEmpty() ? 0 : d->listeners.first()->serverPort();
}

qint64 Server::Private::now() const
{
    return clock ? clock() : QDateTime::currentMSecsSinceEpoch();
}

qint64 Server::Private::bodyLimit(const LoggedRequest &head)
{
    const qint64 limit = protocol::bodyLimit(head.method, head.path);
    if (limit <= protocol::smallBodyLimit)
        return limit;
    // Only a signed-in user may make the service buffer a large body.
    const QByteArray token = protocol::bearerToken(head.header("authorization"));
    const std::optional<SessionRow> session =
        token.isEmpty() ? std::nullopt : storage.session(tokenHash(QString::fromLatin1(token)));
    if (!session || (session->expiresAt && *session->expiresAt <= now()))
        return -1;
    return limit;
}

void Server::Private::accept(QTcpServer *listener)
{
    while (QTcpSocket *socket = listener->nextPendingConnection()) {
        auto *connection = new HttpConnection(
            socket, [this](const LoggedRequest &head) { return bodyLimit(head); }, q);
        QObject::connect(connection, &HttpConnection::refused, q, [this](const LoggedRequest &head) {
            if (options.keepRequestLog)
                log.append(head);
        });
        QObject::connect(connection, &HttpConnection::requestReady, q,
                         [this, connection](const LoggedRequest &request) { handle(connection, request); });
    }
}

std::optional<ScriptedReply> Server::Private::takeForced(const LoggedRequest &request)
{
    std::optional<ScriptedReply> chosen;
    for (auto it = forced.begin(); it != forced.end();) {
        if (it->method == request.method && it->path == request.path && --it->remaining == 0) {
            if (!chosen)
                chosen = it->reply;
            it = forced.erase(it);
        } else {
            ++it;
        }
    }
    return chosen;
}

void Server::Private::handle(HttpConnection *connection, const LoggedRequest &request)
{
    if (options.keepRequestLog)
        log.append(request);
    std::optional<ScriptedReply> scripted = takeForced(request);
    QPointer<HttpConnection> guard(connection);
    auto answer = [this, guard, request, scripted] {
        if (!guard)
            return;
        if (!scripted) {
            dispatch(guard, request);
        } else if (scripted->closeWithoutReply) {
            guard->abort();
        } else {
            guard->reply(scripted->status, scripted->headers, scripted->body);
        }
    };
    const int delay = latency.value(request.path);
    if (delay > 0)
        QTimer::singleShot(delay, connection, answer);
    else
        answer();
}

void Server::Private::dispatch(HttpConnection *connection, const LoggedRequest &request)
{
    auto send = [connection](Reply reply, const HeaderList &extra = {}) {
        reply.headers += extra;
        connection->reply(reply.status, reply.headers, reply.body);
    };
    using protocol::Endpoint;
    const protocol::RouteMatch match = protocol::matchRoute(request.method, request.path);
    if (!match.route) {
        if (match.pathKnown)
            return send(errorReply(405, "method_not_allowed", QStringLiteral("Method not allowed.")));
        return send(errorReply(404, "not_found", QStringLiteral("Not found.")));
    }
    HeaderList extra;
    std::optional<UserRow> user;
    if (match.route->needsSession) {
        user = authenticate(request, &extra);
        if (!user)
            return send(errorReply(401, "unauthorized", QStringLiteral("Sign in to continue.")));
    }
    const QString &parameter = match.parameter;
    switch (match.route->endpoint) {
    case Endpoint::home:
        if (std::optional<Reply> site = userSite(request))
            return send(*site);
        return send(
            htmlReply(200, QStringLiteral("<!doctype html><meta charset=utf-8><title>Tessivo</title>"
                                          "<h1>Tessivo service</h1><p><a href=\"/blog/\">Blog</a></p>")));
    case Endpoint::signInPage:
    case Endpoint::signInForm:
        return send(signInPage(request));
    case Endpoint::verifyOneTimeToken:
        return send(verifyOneTimeToken(request));
    case Endpoint::publicPage:
        return send(publicPage(parameter));
    case Endpoint::publicPageWithoutSlash:
        return send(
            {301,
             {{"location", protocol::routePath(Endpoint::publicPage,
                                               QString::fromLatin1(QUrl::toPercentEncoding(parameter)))
                               .toLatin1()}},
             {}});
    case Endpoint::blog:
        return send(blog(request));
    case Endpoint::blogWithoutSlash:
        return send({301, {{"location", "/blog/"}}, {}});
    case Endpoint::image:
        return send(imageBytes(parameter));
    case Endpoint::getSession:
        return send(getSession(request, *user), extra);
    case Endpoint::signOut:
        return send(signOut(request), extra);
    case Endpoint::me:
        return send(me(*user), extra);
    case Endpoint::pull:
        return send(pull(request, *user), extra);
    case Endpoint::push:
        return send(push(request, *user), extra);
    case Endpoint::publish:
        return send(publish(request, *user), extra);
    case Endpoint::updatePublication:
        return send(updatePublication(request, *user, parameter), extra);
    case Endpoint::unpublish:
        return send(unpublish(*user, parameter), extra);
    case Endpoint::listImages:
        return send(listImages(request, *user), extra);
    case Endpoint::uploadImage:
        return send(uploadImage(request, *user), extra);
    case Endpoint::ai:
        return ai(connection, request, extra);
    }
}

std::optional<UserRow> Server::Private::authenticate(const LoggedRequest &request, HeaderList *headers)
{
    const QByteArray token = protocol::bearerToken(request.header("authorization"));
    if (token.isEmpty())
        return std::nullopt;
    const QByteArray hash = tokenHash(QString::fromLatin1(token));
    const std::optional<SessionRow> session = storage.session(hash);
    const qint64 t = now();
    if (!session || (session->expiresAt && *session->expiresAt <= t))
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
                   storage.expireSession(hash, t + options.sessionGraceMs) &&
                   storage.deleteExpiredSessions(t);
        });
        if (rolled)
            headers->append({"set-auth-token", next.toLatin1()});
    }
    return user;
}

QString Server::Private::issueSession(const QString &userId)
{
    const QString token = newToken();
    if (!storage.transaction([&] { return storage.insertSession(tokenHash(token), userId, now()); }))
        return {};
    return token;
}

QString Server::Private::mintOneTimeToken(const QString &userId)
{
    const QString token = newToken();
    if (!storage.transaction([&] {
            return storage.insertOneTimeToken(tokenHash(token), userId,
                                              now() + options.oneTimeTokenLifetimeMs);
        }))
        return {};
    return token;
}

static QString passwordHash(const QString &password, const QByteArray &salt, int iterations)
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

std::optional<UserRow> Server::Private::createUser(const QString &email, const QString &name,
                                                   const QString &password, const QString &handle, bool admin,
                                                   QString *error)
{
    QByteArray salt(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()), salt.size() / 4);
    UserRow user{QUuid::createUuid().toString(QUuid::WithoutBraces),
                 email.trimmed().toLower(),
                 name.trimmed(),
                 passwordHash(password, salt, options.passwordIterations),
                 handle.toLower(),
                 admin || options.adminEmails.contains(email.trimmed(), Qt::CaseInsensitive)};
    if (storage.userByEmail(user.email)) {
        *error = QStringLiteral("An account with this e-mail address already exists.");
        return std::nullopt;
    }
    if (!user.handle.isEmpty() && storage.userByHandle(user.handle)) {
        *error = QStringLiteral("This site handle is taken.");
        return std::nullopt;
    }
    if (!storage.transaction([&] { return storage.insertUser(user, now()); })) {
        *error = QStringLiteral("The account couldn't be saved.");
        return std::nullopt;
    }
    return user;
}

QString Server::Private::publicBase(const LoggedRequest &request) const
{
    if (!options.publicUrl.isEmpty())
        return options.publicUrl;
    static const QRegularExpression hostPattern(
        QStringLiteral("^([A-Za-z0-9.-]+|\\[[0-9A-Fa-f:.]+\\])(:[0-9]{1,5})?$"));
    const QString host = QString::fromLatin1(request.header("host"));
    if (hostPattern.match(host).hasMatch())
        return QStringLiteral("http://") + host;
    return q->baseUrl().toString();
}

} // namespace tessivo::server
