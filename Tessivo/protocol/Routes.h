#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

namespace protocol {

// What a request to the service is for, whoever builds or answers it.
enum class Endpoint {
    home,
    signInPage,
    signInForm,
    verifyOneTimeToken,
    getSession,
    signOut,
    me,
    pull,
    push,
    publish,
    updatePublication,
    unpublish,
    publicPage,
    publicPageWithoutSlash,
    blog,
    blogWithoutSlash,
    stylesheet,
    listImages,
    uploadImage,
    image,
    ai,
};

// One request the service answers. `pattern` is a path in which "{}" stands
// for one non-empty path segment (percent-decoded, no "/"); a route has at
// most one. A route that needs a session answers 401 without a valid bearer
// token, and only such a route may take a body above the small limit, so
// that nobody without an account can make the service hold a large one.
struct Route
{
    Endpoint endpoint;
    QByteArrayView method;
    QStringView pattern;
    bool needsSession = false;
    qint64 bodyLimit = 0;
};

inline constexpr qint64 kibibyte = 1024;
inline constexpr qint64 mebibyte = 1024 * kibibyte;
// The body limit of routes that take small bodies or none.
inline constexpr qint64 smallBodyLimit = 64 * kibibyte;

// Every route of the service, in the order the service tries them.
const QList<Route> &routes();

struct RouteMatch
{
    // The matching route, or null.
    const Route *route = nullptr;
    // Whether some route has this path with another method (405, not 404).
    bool pathKnown = false;
    // The path segment that stands for "{}", when the route has one.
    QString parameter;
};

// The route for a request, by method (exact, upper-case) and decoded path.
RouteMatch matchRoute(QByteArrayView method, QStringView path);

// The largest body a request may carry before its session is known: the
// limit of the route its method and path name, else the small limit.
qint64 bodyLimit(QByteArrayView method, QStringView path);

// The route's path with `parameter` in place of "{}".
QString routePath(Endpoint endpoint, const QString &parameter = QString());
// The route's path up to its "{}" (all of it when it has none).
QString routePrefix(Endpoint endpoint);

} // namespace protocol
