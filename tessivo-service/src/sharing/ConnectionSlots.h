#pragma once

#include "Peer.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace tessivo::server {

class HttpConnection;

// The service's connection slots, shared between networks and within each
// between client groups (see ClientGroup). A handful of addresses can open
// as many connections as the service has and keep each of them just above
// its floor rate, so at the cap nobody's pace is proof of need: a newcomer
// from a network that holds fewer slots than the network holding the most,
// even with its own, takes one from that network's largest group, whatever
// its connections are doing; within its own network, likewise from the
// group holding the most. Within the group giving way, one that costs
// nothing to close (idle, or behind its floor) goes first, then the oldest.
// A newcomer owed nothing waits, unread, in a small room of accepted
// connections until a slot is freed or one that costs nothing to close
// gives way to it; with the room full it is turned away. The room is there
// so that the service never stops accepting at the cap: a client that is
// owed a slot may be behind any number of others in the listening
// socket's queue, and is found only by taking them.
class ConnectionSlots
{
public:
    ConnectionSlots(int capacity, int waitingRoom) : m_capacity(capacity), m_waitingRoom(waitingRoom) {}

    // A newcomer from `group` finds neither a slot nor room to wait.
    bool turnsAway(const ClientGroup &group) const;
    // Gives `connection` a slot or a place in the waiting room; false while
    // it waits. At the cap, `*givingWay` is the connection whose slot it
    // took, for the caller to close.
    bool arrive(HttpConnection *connection, const ClientGroup &group, qint64 now, HttpConnection **givingWay);
    // Counts the connection under another group (a request through a
    // trusted proxy names its client only in its head).
    void regroup(HttpConnection *connection, const ClientGroup &group);
    // The connection has closed. A waiting connection that takes its slot,
    // or null.
    HttpConnection *leave(HttpConnection *connection);

    struct Move
    {
        HttpConnection *newcomer;  // now holds a slot
        HttpConnection *givingWay; // to be closed
    };
    // Waiting connections that now find a slot, in the order they are owed
    // one: from a network (a group) holding more than one more, or from one
    // costing nothing to close in a network (a group) holding at least as
    // many. Those that waited `maxWaitMs` or longer no longer wait: they
    // are in `expired`.
    QList<Move> makeRoom(qint64 now, qint64 maxWaitMs, QList<HttpConnection *> *expired);
    bool hasWaiting() const { return !m_waiting.isEmpty(); }

private:
    struct Holder
    {
        ClientGroup group;
        quint64 age;
    };
    struct Waiter
    {
        HttpConnection *connection;
        ClientGroup group;
        qint64 since;
    };

    int held(const QString &group) const
    {
        const auto holders = m_byGroup.constFind(group);
        return holders == m_byGroup.cend() ? 0 : int(holders->size());
    }
    int networkHeld(const QString &network) const { return m_networkHeld.value(network); }
    // The oldest slot a group or a network holds, for ties.
    quint64 oldest(const QString &group) const { return m_byGroup.constFind(group)->firstKey(); }
    quint64 oldestInNetwork(const QString &network) const;
    // Networks holding slots, most first, and the groups of one, most first;
    // among equals, the one holding the oldest.
    QStringList networksByShare() const;
    QStringList groupsByShare(const QString &network) const;
    QString largestGroupIn(const QString &network) const;
    // The group that must give a slot up to a newcomer from `group`,
    // whatever its connections are doing, or null.
    QString owingGroup(const ClientGroup &group) const;
    void take(HttpConnection *connection, const ClientGroup &group);
    void drop(HttpConnection *connection);
    // A connection of `group` that costs nothing to close, or, when
    // `evenBusy`, its oldest; null when none.
    HttpConnection *givingWayIn(const QString &group, bool evenBusy) const;
    // The connection that gives way for a newcomer from `group`, or null.
    HttpConnection *givingWayFor(const ClientGroup &group) const;
    // The waiting connection owed a slot first: of the network holding the
    // fewest, of its group holding the fewest, the oldest.
    qsizetype nextOwed() const;

    int m_capacity;
    int m_waitingRoom;
    quint64 m_arrivals = 0;
    QHash<HttpConnection *, Holder> m_holders;
    // Each group's slot holders, oldest first.
    QHash<QString, QMap<quint64, HttpConnection *>> m_byGroup;
    // Slots each network holds, and its groups holding any.
    QHash<QString, int> m_networkHeld;
    QHash<QString, QStringList> m_groupsIn;
    QList<Waiter> m_waiting; // in arrival order
};

} // namespace tessivo::server
