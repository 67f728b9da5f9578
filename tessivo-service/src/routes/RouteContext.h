#pragma once

#include "Replies.h"
#include "ServiceTypes.h"
#include "Storage.h"

#include <QMutex>

#include <functional>
#include <optional>

namespace tessivo::server {

// Milliseconds since 1970 UTC for stamps and token lifetimes: the system
// clock unless one is set. Read from every worker thread.
class ServiceClock
{
public:
    qint64 now() const;
    void set(std::function<qint64()> now);

private:
    mutable QMutex m_mutex;
    std::function<qint64()> m_now;
};

// What every group of routes works with: one thread's database connection,
// the clock and the options. Also the sign-in steps several groups share.
class RouteContext
{
public:
    RouteContext(Storage &storage, const ServerOptions &options, const ServiceClock &clock)
        : storage(storage), options(options), m_clock(clock)
    {}

    qint64 now() const { return m_clock.now(); }

    // The signed-in user of the request's bearer token. Adds "set-auth-token"
    // to `headers` when the session was due to roll.
    std::optional<UserRow> authenticate(const LoggedRequest &request, HeaderList *headers);
    QString issueSession(const QString &userId);
    QString mintOneTimeToken(const QString &userId);
    // `unsaved` is set when the account was valid but storage failed.
    std::optional<UserRow> createUser(const QString &email, const QString &name, const QString &password,
                                      const QString &handle, bool admin, QString *error,
                                      bool *unsaved = nullptr);
    // The scheme, host and port that links in replies start with.
    QString publicBase(const LoggedRequest &request) const;
    // Next strictly increasing stamp for a user; call within a transaction.
    static qint64 nextStamp(qint64 now, qint64 *last) { return *last = std::max(now, *last + 1); }

protected:
    Storage &storage;
    const ServerOptions &options;

private:
    const ServiceClock &m_clock;
};

} // namespace tessivo::server
