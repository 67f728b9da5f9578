#include "Credentials.h"
#include "RouteContext.h"
#include "Server.h"
#include "TextRules.h"

namespace tessivo::server {

bool Server::createAdmin(const ServerOptions &options, const QString &email, const QString &password,
                         QString *error)
{
    const QString address = email.trimmed();
    if (!isEmailAddress(address)) {
        *error = QStringLiteral("Enter a valid e-mail address.");
        return false;
    }
    if (const QString problem = passwordProblem(password); !problem.isEmpty()) {
        *error = problem;
        return false;
    }
    Storage storage;
    if (!storage.open(options.database, error))
        return false;
    const ServiceClock clock;
    RouteContext context(storage, options, clock);
    const std::optional<UserRow> user =
        context.createUser(address, address.section(QLatin1Char('@'), 0, 0), password, {}, true, error);
    storage.close();
    return user.has_value();
}

} // namespace tessivo::server
