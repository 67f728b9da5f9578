#include "SignInThrottle.h"

#include "Peer.h"

namespace tessivo::server {

namespace {
// Milliseconds until one more event fits `limit` events in `window`, after
// dropping the events that left it.
qint64 windowWait(QList<qint64> &events, int limit, qint64 window, qint64 now)
{
    while (!events.isEmpty() && events.first() <= now - window)
        events.removeFirst();
    if (events.size() < limit)
        return 0;
    return events.at(events.size() - limit) + window - now;
}

void takeBack(QHash<QString, QList<qint64>> &table, const QString &key, qint64 at)
{
    const auto it = table.find(key);
    if (it == table.end())
        return;
    if (const qsizetype i = it->lastIndexOf(at); i >= 0)
        it->removeAt(i);
    if (it->isEmpty())
        table.erase(it);
}

QString accountKey(const QString &email)
{
    return email.trimmed().toLower();
}
} // namespace

SignInThrottle::SignInThrottle(const ServiceLimits &limits) : m_limits(limits) {}

qint64 SignInThrottle::accountWait(const QString &email, qint64 now)
{
    const auto it = m_accounts.find(accountKey(email));
    if (it == m_accounts.end())
        return 0;
    if (windowWait(it->failures, m_limits.signInFailuresPerAccount, m_limits.accountWindowMs, now) == 0)
        return 0;
    return std::max<qint64>(0, it->lastCheck + m_limits.accountCheckIntervalMs - now);
}

bool SignInThrottle::accountPaced(const QString &email, qint64 now)
{
    std::lock_guard lock(m_mutex);
    return accountWait(email, now) > 0;
}

qint64 SignInThrottle::admit(const QHostAddress &peer, const QString &email, qint64 now, bool knownPeer)
{
    std::lock_guard lock(m_mutex);
    const QString key = peerKey(peer);
    const QString pair = key + u' ' + accountKey(email);
    qint64 wait = 0;
    for (const QString &k : {key, pair}) {
        if (const auto it = m_failures.find(k); it != m_failures.end())
            wait =
                std::max(wait, windowWait(*it, m_limits.signInFailuresPerPeer, m_limits.signInWindowMs, now));
    }
    if (!knownPeer)
        wait = std::max(wait, accountWait(email, now));
    if (wait > 0)
        return wait;
    forgetOld(now);
    m_failures[key].append(now);
    m_failures[pair].append(now);
    Account &account = m_accounts[accountKey(email)];
    account.failures.append(now);
    // Only the newest failures decide whether the account is paced.
    while (account.failures.size() > m_limits.signInFailuresPerAccount)
        account.failures.removeFirst();
    if (!knownPeer)
        account.lastCheck = now;
    return 0;
}

void SignInThrottle::succeeded(const QHostAddress &peer, const QString &email, qint64 at)
{
    std::lock_guard lock(m_mutex);
    const QString key = peerKey(peer);
    takeBack(m_failures, key, at);
    takeBack(m_failures, key + u' ' + accountKey(email), at);
    if (const auto it = m_accounts.find(accountKey(email)); it != m_accounts.end()) {
        if (const qsizetype i = it->failures.lastIndexOf(at); i >= 0)
            it->failures.removeAt(i);
    }
}

qint64 SignInThrottle::admitSignUp(const QHostAddress &peer, qint64 now)
{
    std::lock_guard lock(m_mutex);
    QList<qint64> &made = m_signUps[peerKey(peer)];
    const qint64 wait = windowWait(made, m_limits.signUpsPerPeer, m_limits.signUpWindowMs, now);
    if (wait == 0) {
        forgetOld(now);
        m_signUps[peerKey(peer)].append(now);
    }
    return wait;
}

void SignInThrottle::signUpFailed(const QHostAddress &peer, qint64 at)
{
    std::lock_guard lock(m_mutex);
    takeBack(m_signUps, peerKey(peer), at);
}

void SignInThrottle::forgetOld(qint64 now)
{
    // Clients and accounts that stopped failing are forgotten once their
    // window has passed, so the tables hold at most a window's worth.
    if (now - m_lastSweep <
        std::min({m_limits.signInWindowMs, m_limits.accountWindowMs, m_limits.signUpWindowMs}))
        return;
    m_lastSweep = now;
    const auto sweep = [now](QHash<QString, QList<qint64>> &table, qint64 window) {
        for (auto it = table.begin(); it != table.end();) {
            windowWait(*it, 1, window, now); // drops the events that left the window
            it = it->isEmpty() ? table.erase(it) : std::next(it);
        }
    };
    sweep(m_failures, m_limits.signInWindowMs);
    sweep(m_signUps, m_limits.signUpWindowMs);
    for (auto it = m_accounts.begin(); it != m_accounts.end();) {
        windowWait(it->failures, 1, m_limits.accountWindowMs, now);
        const bool pacing = it->lastCheck + m_limits.accountCheckIntervalMs > now;
        it = it->failures.isEmpty() && !pacing ? m_accounts.erase(it) : std::next(it);
    }
}

} // namespace tessivo::server
