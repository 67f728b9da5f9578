#pragma once

#include "RouteContext.h"

namespace tessivo::server {

// Pull and push of documents and collections.
class SyncRoutes final : public RouteContext
{
public:
    using RouteContext::RouteContext;

    Reply pull(const LoggedRequest &request, const UserRow &user);
    Reply push(const LoggedRequest &request, const UserRow &user);
};

} // namespace tessivo::server
