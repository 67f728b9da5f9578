#pragma once

#include "AiForwarder.h"
#include "BodyBudget.h"
#include "ConnectionSlots.h"
#include "HostRule.h"
#include "HttpConnection.h"
#include "Listener.h"
#include "ReplyBudget.h"
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

struct PullStream;

struct Server::Private
{
    Private(Server *q, ServerOptions o)
        : q(q), options(std::move(o)), signInThrottle(options.limits), ai(options),
          bodyBudget(options.limits.bodyBudgetBytes, options.limits.bodyShareBytes),
          replyBudget(std::make_shared<ReplyBudget>(options.limits.replyBudgetBytes, q))
    {}

    Server *q;
    ServerOptions options;
    ServiceClock clock;
    SteadyClock steadyClock;
    // Shared by every worker, so that a guesser meets one count.
    SignInThrottle signInThrottle;
    WorkerPool pool;
    AiForwarder ai;
    QList<Listener *> listeners;
    HostRule hosts;

    int maxConnections = 0;
    ConnectionSlots connectionSlots{0, 0};
    // Waiting connections are looked at again on this timer, while any wait.
    QTimer roomCheck;
    bool roomCheckQueued = false;
    bool acceptPaused = false;
    QTimer acceptRetry;
    // Open connections per peer, and the peer each counts under.
    QHash<QString, int> perPeer;
    QHash<HttpConnection *, QString> peerOf;
    // Uploads being received per account, and the account of each.
    QHash<QString, int> uploads;
    QHash<HttpConnection *, QString> uploadOf;
    // Large bodies admitted and not yet answered.
    BodyBudget bodyBudget;
    int startFailure = 1;
    // Room for large records of pull replies not yet taken.
    std::shared_ptr<ReplyBudget> replyBudget;

    // A layer around the routes (the testing library installs one); it
    // passes requests on with `route`. Null: requests go to the routes.
    std::function<void(HttpConnection *, const LoggedRequest &)> front;
    // Told of each request answered from its head alone.
    std::function<void(const LoggedRequest &)> onRefused;

    void accept(qintptr descriptor);
    void closed(HttpConnection *connection);
    void countPeer(HttpConnection *connection, const QString &key);
    void admit(HttpConnection *connection, const LoggedRequest &head);
    // Ends an admitted body's upload count and budget, once answered or closed.
    void releaseBody(HttpConnection *connection);
    void route(HttpConnection *connection, const LoggedRequest &request);
    void deliver(HttpConnection *connection, const LoggedRequest &request, const Outcome &outcome);
    void streamImage(HttpConnection *connection, const Reply &head, const ImageRow &image);
    // A pull's reply to a client of `group`: `start` is its head and the
    // body made so far, `body` makes the rest.
    void streamPull(HttpConnection *connection, const Reply &start, const std::shared_ptr<PullReply> &body,
                    const ClientGroup &group);
    void readPull(const QPointer<HttpConnection> &connection, const std::shared_ptr<PullStream> &stream);
    void waitForRoom(const QPointer<HttpConnection> &connection, const std::shared_ptr<PullStream> &stream);
    void pauseAccepting();
    void resumeAccepting();
    // Soon, and then now and then while any waits: gives waiting
    // connections the slots, and waiting pulls the reply budget's room, of
    // those that may give way to them.
    void queueRoomCheck();
    void lookForRoom();
};

} // namespace tessivo::server
