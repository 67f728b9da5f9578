#pragma once

#include "RouteContext.h"

namespace tessivo::server {

// Published pages, the blog and users' sites.
class PublishingRoutes final : public RouteContext
{
public:
    using RouteContext::RouteContext;

    Reply publish(const LoggedRequest &request, const UserRow &user);
    Reply updatePublication(const LoggedRequest &request, const UserRow &user, const QString &slug);
    Reply unpublish(const UserRow &user, const QString &slug);
    Reply publicPage(const QString &slug);
    Reply blog(const LoggedRequest &request);
    std::optional<Reply> userSite(const LoggedRequest &request);
};

} // namespace tessivo::server
