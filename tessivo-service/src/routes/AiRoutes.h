#pragma once

#include "RouteContext.h"

#include <variant>

namespace tessivo::server {

// Checks an "/api/ai" request; the reply itself is forwarded by AiForwarder.
class AiRoutes final : public RouteContext
{
public:
    using RouteContext::RouteContext;

    // The upstream payload, or the error reply.
    std::variant<Reply, QJsonObject> upstreamRequest(const LoggedRequest &request);
};

} // namespace tessivo::server
