#include "Credentials.h"
#include "ServerPrivate.h"
#include "TestFront.h"

namespace tessivo::server {

TestHooks Server::hooks()
{
    TestFront::of(*this);
    return TestHooks(*this);
}

void TestHooks::onWorker(const std::function<void(Router &)> &job) const
{
    m_server.d->pool.runAndWait(job);
}

Account TestHooks::registerUser(const QString &email, const QString &name, const QString &password,
                                const QString &siteHandle, bool admin)
{
    QString error;
    std::optional<UserRow> user;
    onWorker([&](Router &router) {
        user = router.context().createUser(email, name, password, siteHandle, admin, &error);
    });
    if (!user) {
        qWarning("registerUser(%s): %s", qPrintable(email), qPrintable(error));
        return {};
    }
    return {user->id, issueSessionToken(user->id)};
}

QString TestHooks::issueSessionToken(const QString &userId)
{
    QString token;
    onWorker([&](Router &router) { token = router.context().issueSession(userId); });
    return token;
}

void TestHooks::revokeSessionToken(const QString &token)
{
    onWorker([&](Router &router) {
        Storage &storage = router.storage();
        storage.transaction([&] { return storage.deleteSession(tokenHash(token)); });
    });
}

QString TestHooks::mintOneTimeToken(const QString &userId)
{
    QString token;
    onWorker([&](Router &router) { token = router.context().mintOneTimeToken(userId); });
    return token;
}

void TestHooks::setNextSignInOutcome(SignInOutcome outcome, const QString &userId)
{
    TestFront::of(m_server).nextSignIn = qMakePair(outcome, userId);
}

void TestHooks::forceReply(const QByteArray &method, const QString &path, int nth, const ScriptedReply &reply)
{
    TestFront::of(m_server).forced.append({method, path, std::max(nth, 1), reply});
}

void TestHooks::setLatency(const QString &path, int ms)
{
    if (ms > 0)
        TestFront::of(m_server).latency.insert(path, ms);
    else
        TestFront::of(m_server).latency.remove(path);
}

void TestHooks::holdRequests(const QByteArray &method, const QString &path, int count)
{
    TestFront::of(m_server).hold = {method, path, count};
}

bool TestHooks::releaseHeldRequest()
{
    TestFront &front = TestFront::of(m_server);
    if (front.held.isEmpty())
        return false;
    front.held.takeFirst()();
    return true;
}

void TestHooks::setAiScript(const AiScript &script)
{
    TestFront::of(m_server).aiScript = script;
}

QList<LoggedRequest> TestHooks::requestLog() const
{
    return TestFront::of(m_server).log;
}

void TestHooks::clearRequestLog()
{
    TestFront::of(m_server).log.clear();
}

void TestHooks::injectRecord(int kind, const QString &userId, const QJsonObject &record)
{
    onWorker([&](Router &router) {
        Storage &storage = router.storage();
        storage.transaction([&] {
            qint64 last = storage.lastStamp(userId);
            return storage.putRecord(RecordKind(kind), userId, record,
                                     RouteContext::nextStamp(router.context().now(), &last)) &&
                   storage.setLastStamp(userId, last);
        });
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
    m_server.d->clock.set(std::move(now));
}

void TestHooks::setTransferClock(std::function<qint64()> now)
{
    m_server.d->steadyClock.set(std::move(now));
}

} // namespace tessivo::server
