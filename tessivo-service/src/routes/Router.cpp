#include "Router.h"

#include "Credentials.h"

#include "protocol/Routes.h"
#include "protocol/WireRecords.h"

#include <QJsonDocument>
#include <QUrl>

namespace tessivo::server {

Router::Router(const ServerOptions &options, const ServiceClock &clock, SignInThrottle &signInThrottle)
    : m_options(options), m_context(m_storage, options, clock),
      m_accounts(m_storage, options, clock, signInThrottle), m_sync(m_storage, options, clock),
      m_publishing(m_storage, options, clock), m_images(m_storage, options, clock),
      m_ai(m_storage, options, clock)
{}

bool Router::open(QString *error)
{
    return m_storage.open(m_options.database, error);
}

Outcome Router::dispatch(const LoggedRequest &request)
{
    m_storage.clearError();
    Outcome outcome = route(request);
    if (outcome.reply.status >= 500) {
        // The reply's own message, and the database's when this request
        // failed there: never the request's body or credentials.
        const std::optional<ErrorBody> error =
            ErrorBody::fromJson(QJsonDocument::fromJson(outcome.reply.body).object());
        outcome.failure = error ? error->message : QString();
        if (!m_storage.lastError().isEmpty())
            outcome.failure += QStringLiteral(" (") + m_storage.lastError() + QLatin1Char(')');
    }
    // A write that failed for lack of disk space is the service's passing
    // trouble, not a fault in the request: the client may try again later.
    if (outcome.reply.status == 500 && m_storage.lastErrorIsOutOfSpace())
        outcome.reply = unavailableReply();
    return outcome;
}

qint64 Router::bodyLimit(const LoggedRequest &head, QString *userId)
{
    const qint64 limit = protocol::bodyLimit(head.method, head.path);
    if (limit <= protocol::smallBodyLimit)
        return limit;
    // Only a signed-in user may make the service buffer a large body.
    const QByteArray token = bearerToken(head);
    const std::optional<SessionRow> session =
        token.isEmpty() ? std::nullopt : m_storage.session(tokenHash(QString::fromLatin1(token)));
    if (!session || !session->liveAt(m_context.now(), m_options.sessionLifetimeMs))
        return -1;
    *userId = session->userId;
    return limit;
}

Outcome Router::route(const LoggedRequest &request)
{
    auto send = [](Reply reply, const HeaderList &extra = {}) {
        reply.headers += extra;
        return Outcome{std::move(reply), {}, {}, {}};
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
        user = m_context.authenticate(request, &extra);
        if (!user)
            return send(unauthorizedReply());
    }
    const QString &parameter = match.parameter;
    switch (match.route->endpoint) {
    case Endpoint::home:
        if (std::optional<Reply> site = m_publishing.userSite(request))
            return send(*site);
        return send(htmlReply(200, QStringLiteral("<!doctype html><meta charset=utf-8><title>Tessivo</title>"
                                                  "<h1>Tessivo service</h1><p><a href=\"%1\">Blog</a></p>")
                                       .arg(protocol::routePath(Endpoint::blog))));
    case Endpoint::signInPage:
    case Endpoint::signInForm:
        return send(m_accounts.signInPage(request));
    case Endpoint::verifyOneTimeToken:
        return send(m_accounts.verifyOneTimeToken(request));
    case Endpoint::publicPage:
        return send(m_publishing.publicPage(parameter));
    case Endpoint::publicPageWithoutSlash:
        return send(
            {301,
             {{"location", protocol::routePath(Endpoint::publicPage,
                                               QString::fromLatin1(QUrl::toPercentEncoding(parameter)))
                               .toLatin1()}},
             {}});
    case Endpoint::blog:
        return send(m_publishing.blog(request));
    case Endpoint::blogWithoutSlash:
        return send({301, {{"location", protocol::routePath(Endpoint::blog).toLatin1()}}, {}});
    case Endpoint::stylesheet:
        return send(stylesheetReply());
    case Endpoint::image: {
        auto head = m_images.imageHead(parameter);
        if (auto *found = std::get_if<std::pair<Reply, ImageRow>>(&head))
            return {found->first, found->second, {}, {}};
        return send(std::get<Reply>(head));
    }
    case Endpoint::getSession:
        return send(m_accounts.getSession(request, *user), extra);
    case Endpoint::signOut:
        return send(m_accounts.signOut(request), extra);
    case Endpoint::me:
        return send(m_accounts.me(*user), extra);
    case Endpoint::pull: {
        auto [reply, rest] = m_sync.pull(request, *user);
        Outcome outcome = send(std::move(reply), extra);
        outcome.pull = std::move(rest);
        return outcome;
    }
    case Endpoint::push:
        return send(m_sync.push(request, *user), extra);
    case Endpoint::publish:
        return send(m_publishing.publish(request, *user), extra);
    case Endpoint::updatePublication:
        return send(m_publishing.updatePublication(request, *user, parameter), extra);
    case Endpoint::unpublish:
        return send(m_publishing.unpublish(*user, parameter), extra);
    case Endpoint::listImages:
        return send(m_images.listImages(request, *user), extra);
    case Endpoint::uploadImage:
        return send(m_images.uploadImage(request, *user), extra);
    case Endpoint::ai:
        break;
    }
    auto ai = m_ai.upstreamRequest(request);
    if (auto *payload = std::get_if<QJsonObject>(&ai))
        return {Reply{200, extra, {}}, {}, *payload, {}};
    return send(std::get<Reply>(ai), extra);
}

} // namespace tessivo::server
