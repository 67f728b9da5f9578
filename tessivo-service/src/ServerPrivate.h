#pragma once

#include "HttpConnection.h"
#include "Server.h"
#include "Storage.h"

#include <QHash>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QTcpServer>

#include <optional>

namespace tessivo::server {

struct Reply
{
    int status = 200;
    HeaderList headers;
    QByteArray body;
};

Reply jsonReply(int status, const QJsonObject &object);
Reply errorReply(int status, const QByteArray &code, const QString &message);
Reply htmlReply(int status, const QString &html);
QString htmlEscape(const QString &text);

struct ForcedReply
{
    QByteArray method;
    QString path;
    int remaining = 1;
    ScriptedReply reply;
};

struct Server::Private
{
    explicit Private(Server *q, ServerOptions o) : q(q), options(std::move(o)) {}

    Server *q;
    ServerOptions options;
    Storage storage;
    QList<QTcpServer *> listeners;
    QNetworkAccessManager network;

    QList<LoggedRequest> log;
    QList<ForcedReply> forced;
    QHash<QString, int> latency;
    std::optional<AiScript> aiScript;
    std::optional<QPair<SignInOutcome, QString>> nextSignIn;
    std::function<qint64()> clock;

    qint64 now() const;
    qint64 bodyLimit(const LoggedRequest &head);
    void accept(QTcpServer *listener);
    void handle(HttpConnection *connection, const LoggedRequest &request);
    void dispatch(HttpConnection *connection, const LoggedRequest &request);
    std::optional<ScriptedReply> takeForced(const LoggedRequest &request);

    // The signed-in user of the request's bearer token. Adds "set-auth-token"
    // to `headers` when the session was due to roll.
    std::optional<UserRow> authenticate(const LoggedRequest &request, HeaderList *headers);
    QString issueSession(const QString &userId);
    QString mintOneTimeToken(const QString &userId);
    std::optional<UserRow> createUser(const QString &email, const QString &name, const QString &password,
                                      const QString &handle, bool admin, QString *error);
    // The scheme, host and port that links in replies start with.
    QString publicBase(const LoggedRequest &request) const;
    // Next strictly increasing stamp for a user; call within a transaction.
    static qint64 nextStamp(qint64 now, qint64 *last) { return *last = std::max(now, *last + 1); }

    Reply signInPage(const LoggedRequest &request);
    Reply verifyOneTimeToken(const LoggedRequest &request);
    Reply getSession(const LoggedRequest &request, const UserRow &user);
    Reply signOut(const LoggedRequest &request);
    Reply me(const UserRow &user);

    Reply pull(const LoggedRequest &request, const UserRow &user);
    Reply push(const LoggedRequest &request, const UserRow &user);

    Reply publish(const LoggedRequest &request, const UserRow &user);
    Reply updatePublication(const LoggedRequest &request, const UserRow &user, const QString &slug);
    Reply unpublish(const UserRow &user, const QString &slug);
    Reply publicPage(const QString &slug);
    Reply blog(const LoggedRequest &request);
    std::optional<Reply> userSite(const LoggedRequest &request);

    Reply listImages(const LoggedRequest &request, const UserRow &user);
    Reply uploadImage(const LoggedRequest &request, const UserRow &user);
    Reply imageBytes(const QString &id);

    void ai(HttpConnection *connection, const LoggedRequest &request, const HeaderList &headers);
    void playAiScript(QPointer<HttpConnection> connection, AiScript script, HeaderList headers);
    void forwardAi(QPointer<HttpConnection> connection, const QJsonObject &request, HeaderList headers);
};

// Token text and the hash under which it is stored.
QString newToken();
QByteArray tokenHash(const QString &token);
bool passwordMatches(const QString &password, const QString &stored);
// Form fields of an "application/x-www-form-urlencoded" body.
QHash<QString, QString> formFields(const QByteArray &body);

} // namespace tessivo::server
