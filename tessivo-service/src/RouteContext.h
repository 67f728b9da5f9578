#pragma once

#include "ServiceTypes.h"
#include "Storage.h"

#include "protocol/Routes.h"

#include <QHash>
#include <QJsonObject>
#include <QMutex>

#include <functional>
#include <optional>

namespace tessivo::server {

struct Reply
{
    int status = 200;
    HeaderList headers;
    QByteArray body;
};

Reply jsonReply(int status, const QJsonObject &object);
Reply errorReply(int status, const QByteArray &code, const QString &message);
// The 401 of a request that needs a session and has none.
Reply unauthorizedReply();
// The browser's way back to the app from the sign-in pages, with one item.
Reply redirectToApp(QLatin1StringView item, const QString &value);
// Whether the request is for the route `endpoint`.
bool isFor(const LoggedRequest &request, protocol::Endpoint endpoint);
Reply htmlReply(int status, const QString &html);
// An upload or push that would take the account past its quota.
Reply quotaExceededReply();
// A write the database couldn't make for lack of disk space.
Reply unavailableReply();
QString htmlEscape(const QString &text);
// The stylesheet of the service's pages.
Reply stylesheetReply();

// Token text and the hash under which it is stored.
QString newToken();
QByteArray tokenHash(const QString &token);
// The token of an "authorization: Bearer …" header, or empty.
QByteArray bearerToken(const LoggedRequest &request);
QString passwordHash(const QString &password, const QByteArray &salt, int iterations);
bool passwordMatches(const QString &password, const QString &stored);
// Whether `text` holds a C0 control character or DEL. PostgreSQL can't
// store NUL in text, and none of them belongs in a name, an address or a
// media type.
bool hasControlCharacter(QStringView text);
// `text` without those, and without the bidirectional embeddings, overrides
// and isolates, which make a name show as another.
QString withoutControlCharacters(QStringView text);
// Form fields of an "application/x-www-form-urlencoded" body.
QHash<QString, QString> formFields(const QByteArray &body);

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
