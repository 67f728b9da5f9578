#include "ServerPrivate.h"

namespace tessivo::server {

Account TestHooks::registerUser(const QString &email, const QString &name, const QString &password,
                                const QString &siteHandle, bool admin)
{
    QString error;
    const std::optional<UserRow> user =
        m_server.d->createUser(email, name, password, siteHandle, admin, &error);
    if (!user) {
        qWarning("registerUser(%s): %s", qPrintable(email), qPrintable(error));
        return {};
    }
    return {user->id, issueSessionToken(user->id)};
}

QString TestHooks::issueSessionToken(const QString &userId)
{
    return m_server.d->issueSession(userId);
}

void TestHooks::revokeSessionToken(const QString &token)
{
    Storage &storage = m_server.d->storage;
    storage.transaction([&] { return storage.deleteSession(tokenHash(token)); });
}

QString TestHooks::mintOneTimeToken(const QString &userId)
{
    return m_server.d->mintOneTimeToken(userId);
}

void TestHooks::setNextSignInOutcome(SignInOutcome outcome, const QString &userId)
{
    m_server.d->nextSignIn = qMakePair(outcome, userId);
}

void TestHooks::forceReply(const QByteArray &method, const QString &path, int nth, const ScriptedReply &reply)
{
    m_server.d->forced.append({method, path, std::max(nth, 1), reply});
}

void TestHooks::setLatency(const QString &path, int ms)
{
    if (ms > 0)
        m_server.d->latency.insert(path, ms);
    else
        m_server.d->latency.remove(path);
}

void TestHooks::setAiScript(const AiScript &script)
{
    m_server.d->aiScript = script;
}

QList<LoggedRequest> TestHooks::requestLog() const
{
    return m_server.d->log;
}

void TestHooks::clearRequestLog()
{
    m_server.d->log.clear();
}

void TestHooks::injectRecord(int kind, const QString &userId, const QJsonObject &record)
{
    Server::Private &d = *m_server.d;
    d.storage.transaction([&] {
        qint64 last = d.storage.lastStamp(userId);
        return d.storage.putRecord(RecordKind(kind), userId, record,
                                   Server::Private::nextStamp(d.now(), &last)) &&
               d.storage.setLastStamp(userId, last);
    });
}

void TestHooks::injectDocument(const QString &userId, const QJsonObject &record)
{
    injectRecord(int(RecordKind::Document), userId, record);
}

void TestHooks::injectCollection(const QString &userId, const QJsonObject &record)
{
    injectRecord(int(RecordKind::Collection), userId, record);
}

void TestHooks::setClock(std::function<qint64()> now)
{
    m_server.d->clock = std::move(now);
}

} // namespace tessivo::server
