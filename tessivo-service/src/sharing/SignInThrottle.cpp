#include "SignInThrottle.h"

#include "Peer.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <tuple>
#include <vector>

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

// How long a turn that opened for a peer told to come back then waits for
// it: Retry-After rounds up to a whole second, and the peer takes a moment
// to connect.
constexpr qint64 comebackGraceMs = 3000;

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

qsizetype SignInThrottle::Account::group(const QString &name)
{
    const auto it = groupIndex.constFind(name);
    if (it != groupIndex.cend())
        return *it;
    groups.append({name, {}});
    groupIndex.insert(name, groups.size() - 1);
    return groups.size() - 1;
}

// Runs on every refused try at a paced account, so it stays linear in the
// peers waiting: an attacker may have thousands of them.
qint64 SignInThrottle::turnWait(Account &account, const QString &key, const QString &group, qint64 now)
{
    const qint64 interval = m_limits.accountCheckIntervalMs;
    // A peer that didn't come back when told gives up its place.
    account.waiting.removeIf([&](QHash<QString, Waiter>::iterator w) { return w->due + interval < now; });
    auto mineIt = account.waiting.find(key);
    if (mineIt == account.waiting.end())
        mineIt = account.waiting.insert(key, {account.checked.value(key, now), now, account.group(group)});
    const Waiter mine = *mineIt;

    // A group waits since its last check or, never checked in the window,
    // since the first of its waiting peers asked.
    const qsizetype groupCount = account.groups.size();
    std::vector<qint64> groupSince(groupCount, std::numeric_limits<qint64>::max());
    std::vector<qsizetype> first(groupCount + 1, 0);
    for (const Waiter &w : std::as_const(account.waiting)) {
        groupSince[w.group] =
            std::min(groupSince[w.group], account.groups[w.group].checked.value_or(w.since));
        ++first[w.group + 1];
    }
    std::partial_sum(first.begin(), first.end(), first.begin());
    struct Place
    {
        qint64 since;
        const QString *key;
        qint64 due;
    };
    std::vector<Place> places(account.waiting.size()); // by group
    std::vector<qsizetype> next(first.begin(), first.end() - 1);
    for (auto it = account.waiting.cbegin(); it != account.waiting.cend(); ++it)
        places[next[it->group]++] = {it->since, &it.key(), it->due};
    const auto earlier = [](const Place &a, const Place &b) {
        return std::tie(a.since, *a.key) < std::tie(b.since, *b.key);
    };
    const auto groupBefore = [&](qsizetype a, qsizetype b) {
        return std::tie(groupSince[a], account.groups[a].name) <
               std::tie(groupSince[b], account.groups[b].name);
    };

    // Round by round each group gives its next peer, the groups in that
    // order. Ahead of this peer are thus the `rank` peers of its own group
    // that wait longer, the `rank` that wait longest in every other group,
    // and one more in each group before its own.
    const Place me{mine.since, &mineIt.key(), mine.due};
    const auto mineFrom = places.begin() + first[mine.group], mineTo = places.begin() + first[mine.group + 1];
    const qsizetype rank = std::count_if(mineFrom, mineTo, [&](const Place &p) { return earlier(p, me); });
    std::vector<qint64> dueAhead;
    const auto count = [&](const Place &p) {
        if (p.due + comebackGraceMs >= now)
            dueAhead.push_back(p.due);
    };
    for (qsizetype g = 0; g < groupCount; ++g) {
        const auto from = places.begin() + first[g], to = places.begin() + first[g + 1];
        if (g == mine.group) {
            for (auto p = from; p != to; ++p) {
                if (earlier(*p, me))
                    count(*p);
            }
            continue;
        }
        const qsizetype ahead = std::min<qsizetype>(to - from, rank + (groupBefore(g, mine.group) ? 1 : 0));
        if (ahead < to - from)
            std::nth_element(from, from + ahead, to, earlier);
        std::for_each(from, from + ahead, count);
    }
    // The turns from the next on go to the peers ahead that are back or
    // due back by then, in the order they were told; a peer ahead that was
    // told a later time doesn't hold this one up.
    std::sort(dueAhead.begin(), dueAhead.end());
    qint64 turn = std::max(account.lastCheck + interval, now);
    for (const qint64 due : dueAhead) {
        if (due > turn)
            break;
        turn += interval;
    }
    if (turn == now) {
        account.waiting.erase(mineIt);
        return 0;
    }
    mineIt->due = turn;
    return turn - now;
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
    const QString group = peerGroup(peer);
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
        if (const qint64 turn = turnWait(account, key, group, now); turn > 0) {
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
        account.groups[account.group(group)].checked = now;
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
        for (Group &group : it->groups) {
            if (group.checked && *group.checked <= now - m_limits.accountWindowMs)
                group.checked.reset();
        }
        it->waiting.removeIf(
            [&](QHash<QString, Waiter>::iterator waiter) { return waiter->due + interval < now; });
        const bool pacing = it->lastCheck + interval > now;
        it = it->failures.isEmpty() && it->checked.isEmpty() && it->waiting.isEmpty() && !pacing
                 ? m_accounts.erase(it)
                 : std::next(it);
    }
}

} // namespace tessivo::server
