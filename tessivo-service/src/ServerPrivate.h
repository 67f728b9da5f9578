#pragma once

#include "AiForwarder.h"
#include "HostRule.h"
#include "HttpConnection.h"
#include "Listener.h"
#include "Server.h"
#include "SignInThrottle.h"
#include "WorkerPool.h"

#include <QHash>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

namespace tessivo::server {

Q_DECLARE_LOGGING_CATEGORY(lcService)

// The largest body a route takes, before anyone has signed in.
qint64 routeBodyLimit(const LoggedRequest &head);

struct Server::Private
{
    Private(Server *q, ServerOptions o) : q(q), options(std::move(o)), ai(options) {}

    Server *q;
    ServerOptions options;
    ServiceClock clock;
    // Shared by every worker, so that a guesser meets one count.
    SignInThrottle signInThrottle;
    WorkerPool pool;
    AiForwarder ai;
    QList<Listener *> listeners;
    ConnectionLimits limits;
    HostRule hosts;

    int maxConnections = 0;
    int openConnections = 0;
    bool acceptPaused = false;
    QTimer acceptRetry;
    // Open connections per client address, and the address each counts under.
    QHash<QString, int> perPeer;
    QHash<HttpConnection *, QString> peerOf;
    // Uploads being received per account, and the account of each.
    QHash<QString, int> uploads;
    QHash<HttpConnection *, QString> uploadOf;
    int startFailure = 1;

    // A layer around the routes (the testing library installs one); it
    // passes requests on with `route`. Null: requests go to the routes.
    std::function<void(HttpConnection *, const LoggedRequest &)> front;
    // Told of each request answered from its head alone.
    std::function<void(const LoggedRequest &)> onRefused;

    void accept(qintptr descriptor);
    void closed(HttpConnection *connection);
    void countPeer(HttpConnection *connection, const QString &key);
    void admit(HttpConnection *connection, const LoggedRequest &head);
    void releaseUpload(HttpConnection *connection);
    void route(HttpConnection *connection, const LoggedRequest &request);
    void deliver(HttpConnection *connection, const LoggedRequest &request, const Outcome &outcome);
    void streamImage(HttpConnection *connection, const Reply &head, const ImageRow &image);
    void pauseAccepting();
    void resumeAccepting();
};

} // namespace tessivo::server
