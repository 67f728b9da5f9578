#pragma once

#include "RouteContext.h"

namespace tessivo::server {

// Sign-in pages, one-time tokens and sessions.
class AccountRoutes final : public RouteContext
{
public:
    using RouteContext::RouteContext;

    Reply signInPage(const LoggedRequest &request);
    Reply verifyOneTimeToken(const LoggedRequest &request);
    Reply getSession(const LoggedRequest &request, const UserRow &user);
    Reply signOut(const LoggedRequest &request);
    Reply me(const UserRow &user);
};

} // namespace tessivo::server
