#pragma once

#include "TestHooks.h"

#include <QHash>
#include <QObject>

#include <functional>
#include <optional>

namespace tessivo::server {

class HttpConnection;
class Server;

// The layer tests put around a server's routes: it keeps the request log
// and answers with forced replies, added latency, scripted AI streams and
// chosen sign-in outcomes before a request reaches the routes.
class TestFront final : public QObject
{
    Q_OBJECT

public:
    // The server's layer, put in place by the first call.
    static TestFront &of(Server &server);

    struct ForcedReply
    {
        QByteArray method;
        QString path;
        int remaining = 1;
        ScriptedReply reply;
    };

    struct Hold
    {
        QByteArray method;
        QString path;
        int remaining = 0;
    };

    QList<LoggedRequest> log;
    QList<ForcedReply> forced;
    QHash<QString, int> latency;
    Hold hold;
    QList<std::function<void()>> held; // answers waiting for release, oldest first
    std::optional<AiScript> aiScript;
    std::optional<QPair<SignInOutcome, QString>> nextSignIn;

private:
    explicit TestFront(Server &server);
    void handle(HttpConnection *connection, const LoggedRequest &request);
    bool intercept(HttpConnection *connection, const LoggedRequest &request);
    std::optional<ScriptedReply> takeForced(const LoggedRequest &request);

    Server &m_server;
};

} // namespace tessivo::server
