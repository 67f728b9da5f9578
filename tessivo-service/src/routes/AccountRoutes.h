#pragma once

#include "RouteContext.h"
#include "SignInThrottle.h"

namespace tessivo::server {

// Sign-in pages, one-time tokens and sessions.
class AccountRoutes final : public RouteContext
{
public:
    AccountRoutes(Storage &storage, const ServerOptions &options, const ServiceClock &clock,
                  SignInThrottle &signInThrottle)
        : RouteContext(storage, options, clock), signInThrottle(signInThrottle)
    {}

    Reply signInPage(const LoggedRequest &request);
    Reply verifyOneTimeToken(const LoggedRequest &request);
    Reply getSession(const LoggedRequest &request, const UserRow &user);
    Reply signOut(const LoggedRequest &request);
    Reply me(const UserRow &user);

private:
    bool fromOwnPage(const LoggedRequest &request) const;

    SignInThrottle &signInThrottle;
};

} // namespace tessivo::server
