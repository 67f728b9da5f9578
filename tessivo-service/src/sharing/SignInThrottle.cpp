#include "SignInThrottle.h"

#include "Peer.h"

#include <algorithm>
#include <limits>
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

qsizetype SignInThrottle::Account::group(const ClientGroup &group)
{
    const auto it = groupIndex.constFind(group.name);
    if (it != groupIndex.cend())
        return *it;
    auto network = networkIndex.constFind(group.network);
    if (network == networkIndex.cend()) {
        networks.append({group.network, {}, 0});
        network = networkIndex.insert(group.network, networks.size() - 1);
    }
    groups.append({group.name, {}, *network});
    groupIndex.insert(group.name, groups.size() - 1);
    return groups.size() - 1;
}

// Runs on every refused try at a paced account, so it stays near linear in
// the peers waiting: an attacker may have thousands of them.
qint64 SignInThrottle::turnWait(Account &account, const QString &key, const ClientGroup &group, qint64 now)
{
    const qint64 interval = m_limits.accountCheckIntervalMs;
    // A peer that didn't come back when told gives up its place.
    account.waiting.removeIf([&](QHash<QString, Waiter>::iterator w) { return w->due + interval < now; });
    auto mineIt = account.waiting.find(key);
    if (mineIt == account.waiting.end())
        mineIt = account.waiting.insert(key, {account.checked.value(key, now), now, account.group(group)});
    const Waiter mine = *mineIt;

    // A group or a network waits since its last check or, never checked in
    // the window, since the first of its waiting peers asked.
    const qsizetype groupCount = account.groups.size(), networkCount = account.networks.size();
    constexpr qint64 never = std::numeric_limits<qint64>::max();
    std::vector<qint64> groupSince(groupCount, never), networkSince(networkCount, never);
    struct Place
    {
        qint64 since;
        const QString *key;
        qint64 due;
    };
    std::vector<std::vector<Place>> byGroup(groupCount);
    for (auto it = account.waiting.cbegin(); it != account.waiting.cend(); ++it) {
        const Group &g = account.groups[it->group];
        groupSince[it->group] = std::min(groupSince[it->group], g.checked.value_or(it->since));
        networkSince[g.network] =
            std::min(networkSince[g.network], account.networks[g.network].checked.value_or(it->since));
        byGroup[it->group].push_back({it->since, &it.key(), it->due});
    }
    const auto earlier = [](const Place &a, const Place &b) {
        return std::tie(a.since, *a.key) < std::tie(b.since, *b.key);
    };
    // Each network's turns in order: round by round each of its groups, in
    // the order they have waited, gives its next peer.
    std::vector<std::vector<qsizetype>> groupsOf(networkCount);
    for (qsizetype g = 0; g < groupCount; ++g) {
        if (!byGroup[g].empty()) {
            std::sort(byGroup[g].begin(), byGroup[g].end(), earlier);
            groupsOf[account.groups[g].network].push_back(g);
        }
    }
    std::vector<std::vector<Place>> turns(networkCount);
    for (qsizetype n = 0; n < networkCount; ++n) {
        std::vector<qsizetype> &groups = groupsOf[n];
        std::sort(groups.begin(), groups.end(), [&](qsizetype a, qsizetype b) {
            return std::tie(groupSince[a], account.groups[a].name) <
                   std::tie(groupSince[b], account.groups[b].name);
        });
        for (size_t round = 0, added = 1; added > 0; ++round) {
            added = 0;
            for (const qsizetype g : groups) {
                if (round < byGroup[g].size()) {
                    turns[n].push_back(byGroup[g][round]);
                    ++added;
                }
            }
        }
    }
    // Round by round each network gives its next turn, the networks in the
    // order they have waited. Ahead of this peer are thus the `rank` turns
    // of its own network before it, the first `rank` of every other
    // network, and one more of each network before its own.
    const qsizetype mineNetwork = account.groups[mine.group].network;
    const std::vector<Place> &own = turns[mineNetwork];
    const qsizetype rank =
        std::find_if(own.begin(), own.end(), [&](const Place &p) { return *p.key == mineIt.key(); }) -
        own.begin();
    const auto networkBefore = [&](qsizetype a, qsizetype b) {
        return std::tie(networkSince[a], account.networks[a].name) <
               std::tie(networkSince[b], account.networks[b].name);
    };
    std::vector<qint64> dueAhead;
    for (qsizetype n = 0; n < networkCount; ++n) {
        const qsizetype ahead = n == mineNetwork ? rank : rank + (networkBefore(n, mineNetwork) ? 1 : 0);
        const auto from = turns[n].cbegin();
        std::for_each(from, from + std::min<qsizetype>(ahead, turns[n].size()), [&](const Place &p) {
            if (p.due + comebackGraceMs >= now)
                dueAhead.push_back(p.due);
        });
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
    const ClientGroup group = clientGroup(peer);
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
        Group &checked = account.groups[account.group(group)];
        checked.checked = now;
        account.networks[checked.network].checked = now;
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
        for (QList<Group> *groups : {&it->groups, &it->networks}) {
            for (Group &group : *groups) {
                if (group.checked && *group.checked <= now - m_limits.accountWindowMs)
                    group.checked.reset();
            }
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
