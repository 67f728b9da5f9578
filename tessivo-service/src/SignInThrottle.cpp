#include "SignInThrottle.h"

#include "Peer.h"

#include <tuple>

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

bool SignInThrottle::paced(Account &account, qint64 now) const
{
    return windowWait(account.failures, m_limits.signInFailuresPerAccount, m_limits.accountWindowMs, now) > 0;
}

qint64 SignInThrottle::turnWait(Account &account, const QString &key, qint64 now)
{
    const qint64 interval = m_limits.accountCheckIntervalMs;
    // A peer that didn't come back when told gives up its place.
    for (auto it = account.waiting.begin(); it != account.waiting.end();)
        it = it->due + interval < now ? account.waiting.erase(it) : std::next(it);
    auto mine = account.waiting.find(key);
    if (mine == account.waiting.end()) {
        const auto checked = account.checked.constFind(key);
        const bool wasChecked = checked != account.checked.cend();
        mine = account.waiting.insert(key, {wasChecked ? *checked : now, wasChecked, now});
    }
    const auto order = [](const Waiter &w, const QString &k) { return std::tie(w.checked, w.since, k); };
    qint64 ahead = 0;
    for (auto it = account.waiting.cbegin(); it != account.waiting.cend(); ++it) {
        if (order(*it, it.key()) < order(*mine, key))
            ++ahead;
    }
    const qint64 open = account.lastCheck + interval;
    if (ahead == 0 && now >= open) {
        account.waiting.erase(mine);
        return 0;
    }
    const qint64 wait = std::max<qint64>(open - now, 0) + ahead * interval;
    mine->due = now + wait;
    return wait;
}

bool SignInThrottle::accountPaced(const QString &email, qint64 now)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_accounts.find(accountKey(email));
    return it != m_accounts.end() && paced(*it, now);
}

qint64 SignInThrottle::admit(const QHostAddress &peer, const QString &email, qint64 now, bool knownPeer)
{
    std::lock_guard lock(m_mutex);
    forgetOld(now);
    const QString key = peerKey(peer);
    const QString pair = key + u' ' + accountKey(email);
    qint64 wait = 0;
    for (const QString &k : {key, pair}) {
        if (const auto it = m_failures.find(k); it != m_failures.end())
            wait =
                std::max(wait, windowWait(*it, m_limits.signInFailuresPerPeer, m_limits.signInWindowMs, now));
    }
    if (wait > 0) {
        // Held back by its own limit, the peer can't take a turn at the
        // account either: the peers behind it needn't wait for it.
        if (const auto it = m_accounts.find(accountKey(email)); it != m_accounts.end())
            it->waiting.remove(key);
        return wait;
    }
    Account &account = m_accounts[accountKey(email)];
    if (!paced(account, now)) {
        account.waiting.clear();
    } else if (!knownPeer) {
        if (const qint64 turn = turnWait(account, key, now); turn > 0) {
            m_failures[key].append(now);
            m_failures[pair].append(now);
            return turn;
        }
    }
    m_failures[key].append(now);
    m_failures[pair].append(now);
    account.failures.append(now);
    // Only the newest failures decide whether the account is paced; a
    // margin stays for the attempts being checked, which a right password
    // takes back.
    while (account.failures.size() > 2 * m_limits.signInFailuresPerAccount)
        account.failures.removeFirst();
    if (!knownPeer) {
        account.lastCheck = now;
        account.checked.insert(key, now);
    }
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

qint64 SignInThrottle::admitSignUp(const QHostAddress &peer, qint64 now, bool *accountsLimit)
{
    std::lock_guard lock(m_mutex);
    forgetOld(now);
    const QString key = peerKey(peer);
    QList<qint64> &tries = m_signUpTries[key];
    QList<qint64> &made = m_signUps[key];
    const qint64 triesWait = windowWait(tries, m_limits.signUpAttemptsPerPeer, m_limits.signUpWindowMs, now);
    const qint64 madeWait = windowWait(made, m_limits.signUpsPerPeer, m_limits.signUpWindowMs, now);
    *accountsLimit = madeWait > 0;
    if (triesWait > 0 || madeWait > 0)
        return std::max(triesWait, madeWait);
    tries.append(now);
    made.append(now);
    return 0;
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
    sweep(m_signUpTries, m_limits.signUpWindowMs);
    sweep(m_signUps, m_limits.signUpWindowMs);
    const qint64 interval = m_limits.accountCheckIntervalMs;
    for (auto it = m_accounts.begin(); it != m_accounts.end();) {
        windowWait(it->failures, 1, m_limits.accountWindowMs, now);
        it->checked.removeIf([&](QHash<QString, qint64>::iterator checked) {
            return *checked <= now - m_limits.accountWindowMs;
        });
        it->waiting.removeIf(
            [&](QHash<QString, Waiter>::iterator waiter) { return waiter->due + interval < now; });
        const bool pacing = it->lastCheck + interval > now;
        it = it->failures.isEmpty() && it->checked.isEmpty() && it->waiting.isEmpty() && !pacing
                 ? m_accounts.erase(it)
                 : std::next(it);
    }
}

} // namespace tessivo::server
