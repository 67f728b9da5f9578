#include "ConnectionSlots.h"

#include "HttpConnection.h"

#include <algorithm>

namespace tessivo::server {

bool ConnectionSlots::turnsAway(const ClientGroup &group) const
{
    if (m_holders.size() < m_capacity || m_waiting.size() < m_waitingRoom)
        return false;
    return owingGroup(group).isNull();
}

bool ConnectionSlots::arrive(HttpConnection *connection, const ClientGroup &group, qint64 now,
                             HttpConnection **givingWay)
{
    *givingWay = nullptr;
    if (m_holders.size() < m_capacity) {
        take(connection, group);
        return true;
    }
    // Only a network or group owing a slot gives way here. One costing
    // nothing to close elsewhere is looked for once the newcomer waits, so
    // that a flood of newcomers the room can't hold costs no search each.
    if (const QString owing = owingGroup(group); !owing.isNull()) {
        *givingWay = givingWayIn(owing, true);
        drop(*givingWay);
        take(connection, group);
        return true;
    }
    m_waiting.append({connection, group, now});
    return false;
}

void ConnectionSlots::regroup(HttpConnection *connection, const ClientGroup &group)
{
    const auto holder = m_holders.constFind(connection);
    if (holder == m_holders.cend() || holder->group == group)
        return;
    drop(connection);
    take(connection, group);
}

HttpConnection *ConnectionSlots::leave(HttpConnection *connection)
{
    if (!m_holders.contains(connection)) {
        m_waiting.removeIf([&](const Waiter &waiter) { return waiter.connection == connection; });
        return nullptr;
    }
    drop(connection);
    if (m_waiting.isEmpty() || m_holders.size() >= m_capacity)
        return nullptr;
    const Waiter next = m_waiting.takeAt(nextOwed());
    take(next.connection, next.group);
    return next.connection;
}

QList<ConnectionSlots::Move> ConnectionSlots::makeRoom(qint64 now, qint64 maxWaitMs,
                                                       QList<HttpConnection *> *expired)
{
    for (const Waiter &waiter : std::as_const(m_waiting)) {
        if (now - waiter.since >= maxWaitMs)
            expired->append(waiter.connection);
    }
    m_waiting.removeIf([&](const Waiter &waiter) { return now - waiter.since >= maxWaitMs; });
    QList<Move> moves;
    while (!m_waiting.isEmpty()) {
        const qsizetype next = nextOwed();
        HttpConnection *givingWay = givingWayFor(m_waiting[next].group);
        // Whoever waits behind this one holds at least as many: nobody
        // gives way to them either.
        if (!givingWay)
            break;
        const Waiter waiter = m_waiting.takeAt(next);
        drop(givingWay);
        take(waiter.connection, waiter.group);
        moves.append(Move{waiter.connection, givingWay});
    }
    return moves;
}

quint64 ConnectionSlots::oldestInNetwork(const QString &network) const
{
    quint64 age = std::numeric_limits<quint64>::max();
    for (const QString &group : m_groupsIn.value(network))
        age = std::min(age, oldest(group));
    return age;
}

QStringList ConnectionSlots::networksByShare() const
{
    QStringList networks = m_networkHeld.keys();
    QHash<QString, quint64> ages;
    for (const QString &network : std::as_const(networks))
        ages.insert(network, oldestInNetwork(network));
    std::sort(networks.begin(), networks.end(), [&](const QString &a, const QString &b) {
        const int left = networkHeld(a), right = networkHeld(b);
        return left != right ? left > right : ages.value(a) < ages.value(b);
    });
    return networks;
}

QStringList ConnectionSlots::groupsByShare(const QString &network) const
{
    QStringList groups = m_groupsIn.value(network);
    std::sort(groups.begin(), groups.end(), [this](const QString &a, const QString &b) {
        const int left = held(a), right = held(b);
        return left != right ? left > right : oldest(a) < oldest(b);
    });
    return groups;
}

QString ConnectionSlots::owingGroup(const ClientGroup &group) const
{
    // Between networks first: the one holding the most owes a newcomer from
    // a network holding more than one fewer even with it.
    const int mine = networkHeld(group.network);
    QString largest;
    for (auto network = m_networkHeld.cbegin(); network != m_networkHeld.cend(); ++network) {
        if (network.key() != group.network && *network > mine + 1 &&
            (largest.isNull() || *network > networkHeld(largest)))
            largest = network.key();
    }
    if (!largest.isNull())
        return largestGroupIn(largest);
    // Then between the groups of its own network.
    const QString own = largestGroupIn(group.network);
    if (!own.isNull() && held(own) > held(group.name) + 1)
        return own;
    return {};
}

QString ConnectionSlots::largestGroupIn(const QString &network) const
{
    // Found on every arrival at the cap: no sorting.
    QString largest;
    for (const QString &group : m_groupsIn.value(network)) {
        if (largest.isNull() || held(group) > held(largest) ||
            (held(group) == held(largest) && oldest(group) < oldest(largest)))
            largest = group;
    }
    return largest;
}

void ConnectionSlots::take(HttpConnection *connection, const ClientGroup &group)
{
    m_holders.insert(connection, {group, ++m_arrivals});
    auto &holders = m_byGroup[group.name];
    if (holders.isEmpty())
        m_groupsIn[group.network].append(group.name);
    holders.insert(m_arrivals, connection);
    ++m_networkHeld[group.network];
}

void ConnectionSlots::drop(HttpConnection *connection)
{
    const Holder holder = m_holders.take(connection);
    auto group = m_byGroup.find(holder.group.name);
    if (group == m_byGroup.end())
        return;
    group->remove(holder.age);
    if (group->isEmpty()) {
        m_byGroup.erase(group);
        auto groups = m_groupsIn.find(holder.group.network);
        groups->removeOne(holder.group.name);
        if (groups->isEmpty())
            m_groupsIn.erase(groups);
    }
    if (--m_networkHeld[holder.group.network] <= 0)
        m_networkHeld.remove(holder.group.network);
}

HttpConnection *ConnectionSlots::givingWayIn(const QString &group, bool evenBusy) const
{
    const QMap<quint64, HttpConnection *> &holders = *m_byGroup.constFind(group);
    for (HttpConnection *connection : holders) {
        if (connection->mayGiveWay())
            return connection;
    }
    return evenBusy ? holders.first() : nullptr;
}

HttpConnection *ConnectionSlots::givingWayFor(const ClientGroup &group) const
{
    const int mineInNetwork = networkHeld(group.network), mine = held(group.name);
    for (const QString &network : networksByShare()) {
        // Past those holding at least as many, an idle connection's network
        // would be left with fewer than the newcomer's.
        if (networkHeld(network) < mineInNetwork)
            break;
        const QStringList groups = groupsByShare(network);
        if (network != group.network) {
            const bool owes = networkHeld(network) > mineInNetwork + 1;
            for (const QString &other : groups) {
                if (HttpConnection *connection = givingWayIn(other, owes && other == groups.first()))
                    return connection;
            }
            continue;
        }
        for (const QString &other : groups) {
            if (held(other) < mine)
                break;
            if (HttpConnection *connection = givingWayIn(other, held(other) > mine + 1))
                return connection;
        }
    }
    return nullptr;
}

qsizetype ConnectionSlots::nextOwed() const
{
    const auto share = [this](const Waiter &waiter) {
        return std::pair(networkHeld(waiter.group.network), held(waiter.group.name));
    };
    qsizetype next = 0;
    for (qsizetype i = 1; i < m_waiting.size(); ++i) {
        if (share(m_waiting[i]) < share(m_waiting[next]))
            next = i;
    }
    return next;
}

} // namespace tessivo::server
