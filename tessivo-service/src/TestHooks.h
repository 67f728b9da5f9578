#pragma once

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

// The in-process face of the Tessivo service. `tessivo-service` (main.cpp)
// is a thin command line around `Server`; tests link the same library, start
// a `Server` on a free loopback port and drive it through the hooks below.
// There are deliberately no control routes: nothing here is reachable over
// HTTP.
namespace tessivo::server {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

struct ServerOptions
{
    // Empty: 127.0.0.1 and ::1 on `port` (0 picks a free port).
    QList<QPair<QHostAddress, quint16>> listen;
    quint16 port = 8787;
    // "sqlite:<path>" (":memory:" allowed) or "postgres:<libpq-style options>".
    // Empty: SQLite in the XDG data folder.
    QString database;
    // An OpenAI-compatible chat-completions endpoint; empty: AI not set up.
    QUrl aiEndpoint;
    QString aiModel;
    QString aiKey;
    // Scheme, host and port for links in replies ("https://example.com");
    // empty: taken from the request's Host header.
    QString publicUrl;
    // Accounts with these e-mail addresses are admins: their "site-blog"
    // collection is the service's blog.
    QStringList adminEmails;
    // A session token is replaced through "set-auth-token" once it is this
    // old; the replaced token keeps working for the grace period.
    qint64 sessionRollAfterMs = 24 * 3600 * 1000;
    qint64 sessionGraceMs = 5 * 60 * 1000;
    // A session ends this long after it was made or last rolled.
    qint64 sessionLifetimeMs = 30LL * 24 * 3600 * 1000;
    qint64 oneTimeTokenLifetimeMs = 5 * 60 * 1000;
    // PBKDF2-SHA256 rounds for new password hashes (stored with each hash,
    // so changing it keeps old accounts working). Tests lower it.
    int passwordIterations = 310000;
    // Keep every request for `TestHooks::requestLog`; `tessivo-service`
    // turns it off.
    bool keepRequestLog = true;
};

// One request as it arrived, headers with their names as sent.
struct LoggedRequest
{
    QByteArray method;
    QString path;          // decoded path, no query
    QByteArray rawQuery;   // as sent, without "?"; empty when there was none
    bool hadQuery = false; // a "?" was present
    HeaderList headers;
    QByteArray body;
    QHostAddress peer; // the client's address

    // Case-insensitive lookup; null when absent.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
};

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
    // The next "/api/ai" request is answered by this script.
    void setAiScript(const AiScript &script);

    QList<LoggedRequest> requestLog() const;
    void clearRequestLog();

    void injectDocument(const QString &userId, const QJsonObject &record);
    void injectCollection(const QString &userId, const QJsonObject &record);

    // Milliseconds since 1970 UTC used for stamps and token lifetimes.
    void setClock(std::function<qint64()> now);

private:
    void injectRecord(int kind, const QString &userId, const QJsonObject &record);

    Server &m_server;
};

} // namespace tessivo::server
