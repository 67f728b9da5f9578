#include "ConnectionSlots.h"

#include "HttpConnection.h"

#include <algorithm>

namespace tessivo::server {

bool ConnectionSlots::turnsAway(const QString &group) const
{
    if (m_holders.size() < m_capacity || m_waiting.size() < m_waitingRoom)
        return false;
    return held(largestGroup()) <= held(group) + 1;
}

bool ConnectionSlots::arrive(HttpConnection *connection, const QString &group, qint64 now,
                             HttpConnection **givingWay)
{
    *givingWay = nullptr;
    if (m_holders.size() < m_capacity) {
        take(connection, group);
        return true;
    }
    // Only the group holding the most gives way here. One costing nothing
    // to close elsewhere is looked for once the newcomer waits, so that a
    // flood of newcomers the room can't hold costs no search each.
    const QString largest = largestGroup();
    if (held(largest) > held(group) + 1) {
        *givingWay = givingWayIn(largest, group);
        drop(*givingWay);
        take(connection, group);
        return true;
    }
    m_waiting.append({connection, group, now});
    return false;
}

void ConnectionSlots::regroup(HttpConnection *connection, const QString &group)
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

bool ConnectionSlots::holdsMore(const QString &a, const QString &b) const
{
    const auto left = m_byGroup.constFind(a), right = m_byGroup.constFind(b);
    return left->size() != right->size() ? left->size() > right->size()
                                         : left->firstKey() < right->firstKey();
}

QString ConnectionSlots::largestGroup() const
{
    QString largest;
    for (auto group = m_byGroup.cbegin(); group != m_byGroup.cend(); ++group) {
        if (largest.isNull() || holdsMore(group.key(), largest))
            largest = group.key();
    }
    return largest;
}

QStringList ConnectionSlots::groupsByShare() const
{
    QStringList groups = m_byGroup.keys();
    std::sort(groups.begin(), groups.end(),
              [this](const QString &a, const QString &b) { return holdsMore(a, b); });
    return groups;
}

void ConnectionSlots::take(HttpConnection *connection, const QString &group)
{
    m_holders.insert(connection, {group, ++m_arrivals});
    m_byGroup[group].insert(m_arrivals, connection);
}

void ConnectionSlots::drop(HttpConnection *connection)
{
    const Holder holder = m_holders.take(connection);
    auto group = m_byGroup.find(holder.group);
    if (group == m_byGroup.end())
        return;
    group->remove(holder.age);
    if (group->isEmpty())
        m_byGroup.erase(group);
}

HttpConnection *ConnectionSlots::givingWayIn(const QString &group, const QString &newcomerGroup) const
{
    const QMap<quint64, HttpConnection *> &holders = *m_byGroup.constFind(group);
    for (HttpConnection *connection : holders) {
        if (connection->mayGiveWay())
            return connection;
    }
    // A group holding more than one more slot than the newcomer's gives up
    // its oldest even when every connection of it keeps its pace.
    return held(group) > held(newcomerGroup) + 1 ? holders.first() : nullptr;
}

HttpConnection *ConnectionSlots::givingWayFor(const QString &group) const
{
    const int mine = held(group);
    for (const QString &other : groupsByShare()) {
        // Past those holding at least as many, an idle connection's group
        // would be left with fewer than the newcomer's.
        if (held(other) < mine)
            break;
        if (HttpConnection *connection = givingWayIn(other, group))
            return connection;
    }
    return nullptr;
}

qsizetype ConnectionSlots::nextOwed() const
{
    qsizetype next = 0;
    for (qsizetype i = 1; i < m_waiting.size(); ++i) {
        if (held(m_waiting[i].group) < held(m_waiting[next].group))
            next = i;
    }
    return next;
}

} // namespace tessivo::server
