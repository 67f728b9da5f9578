#pragma once

#include "PullReply.h"
#include "RouteContext.h"

#include <memory>

namespace tessivo::server {

// Pull and push of documents and collections.
class SyncRoutes final : public RouteContext
{
public:
    using RouteContext::RouteContext;

    // The whole reply, or its head and what of the body is made so far,
    // the rest to come from the PullReply (its start too, unless begun).
    std::pair<Reply, std::shared_ptr<PullReply>> pull(const LoggedRequest &request, const UserRow &user);
    Reply push(const LoggedRequest &request, const UserRow &user);
};

} // namespace tessivo::server
