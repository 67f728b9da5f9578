#include "protocol/Routes.h"

#include "protocol/Rules.h"

using namespace Qt::StringLiterals;

namespace protocol {

namespace {

// The image plus its multipart framing.
constexpr qint64 uploadLimit = images::maxBytes + 64 * kibibyte;
constexpr qint64 syncLimit = 128 * mebibyte;
constexpr qint64 textLimit = 32 * mebibyte;

// Whether `path` is `pattern` with one non-empty segment in place of "{}";
// the segment goes to `parameter`.
bool matches(QStringView pattern, QStringView path, QString *parameter)
{
    const qsizetype hole = pattern.indexOf(u"{}");
    if (hole < 0)
        return pattern == path;
    const QStringView head = pattern.first(hole);
    const QStringView tail = pattern.sliced(hole + 2);
    if (path.size() <= head.size() + tail.size() || !path.startsWith(head) || !path.endsWith(tail))
        return false;
    const QStringView segment = path.sliced(head.size(), path.size() - head.size() - tail.size());
    if (segment.contains(u'/'))
        return false;
    *parameter = segment.toString();
    return true;
}

} // namespace

const QList<Route> &routes()
{
    static const QList<Route> table{
        {Endpoint::home, "GET", u"/", false, smallBodyLimit},
        {Endpoint::signInPage, "GET", u"/api/v1/auth/native-signin", false, smallBodyLimit},
        {Endpoint::signInForm, "POST", u"/api/v1/auth/native-signin", false, smallBodyLimit},
        {Endpoint::verifyOneTimeToken, "POST", u"/api/auth/one-time-token/verify", false, smallBodyLimit},
        {Endpoint::publicPage, "GET", u"/p/{}/", false, smallBodyLimit},
        {Endpoint::publicPageWithoutSlash, "GET", u"/p/{}", false, smallBodyLimit},
        {Endpoint::blog, "GET", u"/blog/", false, smallBodyLimit},
        {Endpoint::blogWithoutSlash, "GET", u"/blog", false, smallBodyLimit},
        {Endpoint::stylesheet, "GET", u"/style.css", false, smallBodyLimit},
        {Endpoint::image, "GET", u"/media/{}", false, smallBodyLimit},
        {Endpoint::getSession, "GET", u"/api/auth/get-session", true, smallBodyLimit},
        {Endpoint::signOut, "POST", u"/api/auth/sign-out", true, smallBodyLimit},
        {Endpoint::me, "GET", u"/api/v1/me", true, smallBodyLimit},
        {Endpoint::pull, "GET", u"/api/v1/documents/sync", true, smallBodyLimit},
        {Endpoint::push, "POST", u"/api/v1/documents/sync", true, syncLimit},
        {Endpoint::publish, "POST", u"/api/v1/published", true, textLimit},
        {Endpoint::updatePublication, "PUT", u"/api/v1/published/{}", true, textLimit},
        {Endpoint::unpublish, "DELETE", u"/api/v1/published/{}", true, smallBodyLimit},
        {Endpoint::listImages, "GET", u"/api/images", true, smallBodyLimit},
        {Endpoint::uploadImage, "POST", u"/api/v1/images", true, uploadLimit},
        {Endpoint::ai, "POST", u"/api/ai", true, textLimit},
    };
    return table;
}

RouteMatch matchRoute(QByteArrayView method, QStringView path)
{
    RouteMatch match;
    for (const Route &route : routes()) {
        QString parameter;
        if (!matches(route.pattern, path, &parameter))
            continue;
        match.pathKnown = true;
        if (route.method == method) {
            match.route = &route;
            match.parameter = std::move(parameter);
            return match;
        }
    }
    return match;
}

qint64 bodyLimit(QByteArrayView method, QStringView path)
{
    const RouteMatch match = matchRoute(method, path);
    return match.route ? match.route->bodyLimit : smallBodyLimit;
}

QString routePath(Endpoint endpoint, const QString &parameter)
{
    for (const Route &route : routes()) {
        if (route.endpoint == endpoint) {
            QString path = route.pattern.toString();
            return path.replace(u"{}"_s, parameter);
        }
    }
    Q_UNREACHABLE();
    return {};
}

QString routePrefix(Endpoint endpoint)
{
    const QString path = routePath(endpoint, u"{}"_s);
    return path.left(path.indexOf(u"{}"));
}

} // namespace protocol
