#pragma once

#include "AccountRoutes.h"
#include "AiRoutes.h"
#include "ImageRoutes.h"
#include "PublishingRoutes.h"
#include "SyncRoutes.h"

#include <optional>

namespace tessivo::server {

// What a route decided: a whole reply, or a reply whose body the front
// produces (an image's bytes, an AI stream, the rest of a pull).
struct Outcome
{
    Reply reply;
    std::optional<ImageRow> image; // stream these bytes after reply's head
    std::optional<QJsonObject> ai; // forward upstream; reply.headers go along
    QString failure;               // why a 5xx happened, for the log
    // The rest of a pull's body after reply.body, a part at a time
    // (PullReply::begun false: reply.body is not yet its start).
    std::shared_ptr<PullReply> pull;
};

// One worker thread's routes over its own database connection. Everything
// here may block: it never runs on the thread that reads and writes sockets.
class Router
{
public:
    Router(const ServerOptions &options, const ServiceClock &clock, SignInThrottle &signInThrottle);
    Router(const Router &) = delete;
    Router &operator=(const Router &) = delete;

    bool open(QString *error);
    Storage &storage() { return m_storage; }
    RouteContext &context() { return m_context; }

    Outcome dispatch(const LoggedRequest &request);
    // The largest body accepted for a head, or -1 when the request lacks
    // the credentials for a large body. `userId` is set to the signed-in
    // user when there is one.
    qint64 bodyLimit(const LoggedRequest &head, QString *userId);

private:
    Outcome route(const LoggedRequest &request);

    const ServerOptions &m_options;
    Storage m_storage;
    RouteContext m_context;
    AccountRoutes m_accounts;
    SyncRoutes m_sync;
    PublishingRoutes m_publishing;
    ImageRoutes m_images;
    AiRoutes m_ai;
};

} // namespace tessivo::server
