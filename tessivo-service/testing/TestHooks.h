#pragma once

#include "Server.h"
#include "ServiceTypes.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

// The testing face of the Tessivo service. Tests link this library (which
// wraps the service's own), start a `Server` on a free loopback port and
// drive it through the hooks below. The hooks act through a layer around
// the routes that the first `Server::hooks()` call puts in place; a service
// that never calls it, like `tessivo-service`, has none of it. There are
// deliberately no control routes: nothing here is reachable over HTTP.
namespace tessivo::server {

// A reply forced onto one request instead of the route's own answer.
struct ScriptedReply
{
    int status = 200;
    QByteArray body;
    HeaderList headers;             // e.g. {"set-auth-token", "…"}
    bool closeWithoutReply = false; // drop the connection, send nothing
};

// One timed piece of a streamed "/api/ai" reply.
struct StreamPiece
{
    int delayMs = 0; // after the previous piece (or the response head)
    QByteArray bytes;
};

struct AiScript
{
    int status = 200;
    HeaderList headers;
    QList<StreamPiece> pieces;
    bool abortAtEnd = false; // close the connection instead of ending the body
};

enum class SignInOutcome { SignIn, AccessDenied, SessionMissing, InternalError, Cancelled };

struct Account
{
    QString userId;
    QString sessionToken; // valid bearer token for this user
};

class Server;
class Router;

// Test-only operations on a running server. Every call happens on the
// server's thread (the caller's: the server runs on the thread that made it).
class TestHooks
{
public:
    explicit TestHooks(Server &server) : m_server(server) {}

    Account registerUser(const QString &email, const QString &name,
                         const QString &password = QStringLiteral("password"), const QString &siteHandle = {},
                         bool admin = false);
    QString issueSessionToken(const QString &userId);
    void revokeSessionToken(const QString &token);
    QString mintOneTimeToken(const QString &userId);
    // The next browser sign-in redirects at once with this outcome, signing
    // in `userId` for SignIn; no login form is shown.
    void setNextSignInOutcome(SignInOutcome outcome, const QString &userId = {});

    // The nth (1-based) request from now whose method and path match gets
    // `reply`. Several may be queued for one route.
    void forceReply(const QByteArray &method, const QString &path, int nth, const ScriptedReply &reply);
    // Every reply on `path` waits this long first (0 removes it).
    void setLatency(const QString &path, int ms);
    // The next `count` requests whose method and path match wait, in
    // arrival order, until released; they are logged on arrival.
    void holdRequests(const QByteArray &method, const QString &path, int count);
    // Lets the oldest waiting request reach the routes; false when none waits.
    bool releaseHeldRequest();
    // The next "/api/ai" request is answered by this script.
    void setAiScript(const AiScript &script);

    // Every request since the first hooks() call, bodies included.
    QList<LoggedRequest> requestLog() const;
    void clearRequestLog();

    void injectDocument(const QString &userId, const QJsonObject &record);
    void injectCollection(const QString &userId, const QJsonObject &record);

    // Milliseconds since 1970 UTC used for stamps and token lifetimes.
    void setClock(std::function<qint64()> now);
    // Milliseconds on a steady clock by which the pace of bodies and
    // replies is judged; the check itself still runs on the service's timer.
    void setTransferClock(std::function<qint64()> now);

private:
    void injectRecord(int kind, const QString &userId, const QJsonObject &record);
    void onWorker(const std::function<void(Router &)> &job) const;

    Server &m_server;
};

} // namespace tessivo::server
