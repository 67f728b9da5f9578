#include "Router.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>

namespace tessivo::server {

namespace {
constexpr qint64 kilobyte = 1024;
constexpr qint64 megabyte = 1024 * kilobyte;
} // namespace

Router::Router(const ServerOptions &options, const ServiceClock &clock)
    : m_options(options), m_context(m_storage, options, clock), m_accounts(m_storage, options, clock),
      m_sync(m_storage, options, clock), m_publishing(m_storage, options, clock),
      m_images(m_storage, options, clock), m_ai(m_storage, options, clock)
{}

bool Router::open(QString *error)
{
    return m_storage.open(m_options.database, error);
}

Outcome Router::dispatch(const LoggedRequest &request)
{
    const QString storageBefore = m_storage.lastError();
    Outcome outcome = route(request);
    if (outcome.reply.status >= 500) {
        // The reply's own message, and the database's when this request
        // failed there: never the request's body or credentials.
        outcome.failure = QJsonDocument::fromJson(outcome.reply.body)
                              .object()
                              .value(QLatin1String("error"))
                              .toObject()
                              .value(QLatin1String("message"))
                              .toString();
        if (m_storage.lastError() != storageBefore)
            outcome.failure += QStringLiteral(" (") + m_storage.lastError() + QLatin1Char(')');
    }
    return outcome;
}

qint64 Router::bodyLimit(const LoggedRequest &head, QString *userId)
{
    qint64 limit = 64 * kilobyte;
    if (head.path == QLatin1String("/api/v1/images"))
        limit = 10 * megabyte + 64 * kilobyte; // the image plus the multipart framing
    else if (head.path == QLatin1String("/api/v1/documents/sync"))
        limit = 128 * megabyte;
    else if (head.path == QLatin1String("/api/ai") ||
             head.path.startsWith(QLatin1String("/api/v1/published")))
        limit = 32 * megabyte;
    if (limit <= 64 * kilobyte)
        return limit;
    // Only a signed-in user may make the service buffer a large body.
    const QByteArray token = bearerToken(head);
    const std::optional<SessionRow> session =
        token.isEmpty() ? std::nullopt : m_storage.session(tokenHash(QString::fromLatin1(token)));
    if (!session || (session->expiresAt && *session->expiresAt <= m_context.now()))
        return -1;
    *userId = session->userId;
    return limit;
}

Outcome Router::route(const LoggedRequest &request)
{
    const QByteArray &method = request.method;
    const QString &path = request.path;
    auto send = [](Reply reply, const HeaderList &extra = {}) {
        reply.headers += extra;
        return Outcome{std::move(reply), {}, {}, {}};
    };

    if (method == "GET") {
        if (std::optional<Reply> site = m_publishing.userSite(request))
            return send(*site);
    }
    if (path == QLatin1String("/api/v1/auth/native-signin") && (method == "GET" || method == "POST"))
        return send(m_accounts.signInPage(request));
    if (path == QLatin1String("/api/auth/one-time-token/verify") && method == "POST")
        return send(m_accounts.verifyOneTimeToken(request));
    static const QRegularExpression publicPath(QStringLiteral("^/p/([^/]+)(/?)$"));
    if (const auto match = publicPath.match(path); match.hasMatch() && method == "GET") {
        if (match.captured(2).isEmpty())
            return send({301, {{"location", "/p/" + QUrl::toPercentEncoding(match.captured(1)) + "/"}}, {}});
        return send(m_publishing.publicPage(match.captured(1)));
    }
    if ((path == QLatin1String("/blog/") || path == QLatin1String("/blog")) && method == "GET") {
        if (path == QLatin1String("/blog"))
            return send({301, {{"location", "/blog/"}}, {}});
        return send(m_publishing.blog(request));
    }
    if (path.startsWith(QLatin1String("/media/")) && method == "GET") {
        auto head = m_images.imageHead(path.mid(7));
        if (auto *found = std::get_if<std::pair<Reply, ImageRow>>(&head))
            return {found->first, found->second, {}, {}};
        return send(std::get<Reply>(head));
    }
    if (path == QLatin1String("/") && method == "GET")
        return send(
            htmlReply(200, QStringLiteral("<!doctype html><meta charset=utf-8><title>Tessivo</title>"
                                          "<h1>Tessivo service</h1><p><a href=\"/blog/\">Blog</a></p>")));

    struct Route
    {
        QByteArray method;
        QString path;
        bool prefix = false;
    };
    static const QList<Route> authenticated = {
        {"GET", QStringLiteral("/api/auth/get-session")},
        {"POST", QStringLiteral("/api/auth/sign-out")},
        {"GET", QStringLiteral("/api/v1/me")},
        {"GET", QStringLiteral("/api/v1/documents/sync")},
        {"POST", QStringLiteral("/api/v1/documents/sync")},
        {"POST", QStringLiteral("/api/v1/published")},
        {"PUT", QStringLiteral("/api/v1/published/"), true},
        {"DELETE", QStringLiteral("/api/v1/published/"), true},
        {"GET", QStringLiteral("/api/images")},
        {"POST", QStringLiteral("/api/v1/images")},
        {"POST", QStringLiteral("/api/ai")},
    };
    bool pathKnown = false;
    const Route *route = nullptr;
    for (const Route &r : authenticated) {
        const bool pathMatches =
            r.prefix ? path.startsWith(r.path) && path.size() > r.path.size() : path == r.path;
        pathKnown = pathKnown || pathMatches;
        if (pathMatches && r.method == method)
            route = &r;
    }
    if (!route) {
        if (pathKnown)
            return send(errorReply(405, "method_not_allowed", QStringLiteral("Method not allowed.")));
        return send(errorReply(404, "not_found", QStringLiteral("Not found.")));
    }

    HeaderList extra;
    const std::optional<UserRow> user = m_context.authenticate(request, &extra);
    if (!user)
        return send(errorReply(401, "unauthorized", QStringLiteral("Sign in to continue.")));
    if (path == QLatin1String("/api/auth/get-session"))
        return send(m_accounts.getSession(request, *user), extra);
    if (path == QLatin1String("/api/auth/sign-out"))
        return send(m_accounts.signOut(request), extra);
    if (path == QLatin1String("/api/v1/me"))
        return send(m_accounts.me(*user), extra);
    if (path == QLatin1String("/api/v1/documents/sync"))
        return send(method == "GET" ? m_sync.pull(request, *user) : m_sync.push(request, *user), extra);
    if (path == QLatin1String("/api/v1/published"))
        return send(m_publishing.publish(request, *user), extra);
    if (path.startsWith(QLatin1String("/api/v1/published/"))) {
        const QString slug = path.mid(18);
        return send(method == "PUT" ? m_publishing.updatePublication(request, *user, slug)
                                    : m_publishing.unpublish(*user, slug),
                    extra);
    }
    if (path == QLatin1String("/api/images"))
        return send(m_images.listImages(request, *user), extra);
    if (path == QLatin1String("/api/v1/images"))
        return send(m_images.uploadImage(request, *user), extra);
    auto ai = m_ai.upstreamRequest(request);
    if (auto *payload = std::get_if<QJsonObject>(&ai))
        return {Reply{200, extra, {}}, {}, *payload, {}};
    return send(std::get<Reply>(ai), extra);
}

} // namespace tessivo::server
