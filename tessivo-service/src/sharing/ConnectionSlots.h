#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace tessivo::server {

class HttpConnection;

// The service's connection slots, shared between client groups (see
// peerGroup). A handful of addresses can open as many connections as the
// service has and keep each of them just above its floor rate, so at the
// cap nobody's pace is proof of need: a newcomer from a group that holds
// fewer slots than the group holding the most, even with its own, takes one
// from that group, whatever its connections are doing. Within that group, one that costs
// nothing to close (idle, or behind its floor) goes first, then the oldest.
// A newcomer whose group already holds as many as any other waits, unread,
// in a small room of accepted connections until a slot is freed or one
// that costs nothing to close gives way to it; with the room full it is
// turned away. The room is there so that the service never stops accepting
// at the cap: a client that is owed a slot may be behind any number of
// others in the listening socket's queue, and is found only by taking them.
class ConnectionSlots
{
public:
    ConnectionSlots(int capacity, int waitingRoom) : m_capacity(capacity), m_waitingRoom(waitingRoom) {}

    // A newcomer from `group` finds neither a slot nor room to wait.
    bool turnsAway(const QString &group) const;
    // Gives `connection` a slot or a place in the waiting room; false while
    // it waits. At the cap, `*givingWay` is the connection whose slot it
    // took, for the caller to close.
    bool arrive(HttpConnection *connection, const QString &group, qint64 now, HttpConnection **givingWay);
    // Counts the connection under another group (a request through a
    // trusted proxy names its client only in its head).
    void regroup(HttpConnection *connection, const QString &group);
    // The connection has closed. A waiting connection that takes its slot,
    // or null.
    HttpConnection *leave(HttpConnection *connection);

    struct Move
    {
        HttpConnection *newcomer;  // now holds a slot
        HttpConnection *givingWay; // to be closed
    };
    // Waiting connections that now find a slot, in the order they are owed
    // one: from a group holding more than one more, or from one costing
    // nothing to close in a group holding at least as many. Those that
    // waited `maxWaitMs` or longer no longer wait: they are in `expired`.
    QList<Move> makeRoom(qint64 now, qint64 maxWaitMs, QList<HttpConnection *> *expired);
    bool hasWaiting() const { return !m_waiting.isEmpty(); }

private:
    struct Holder
    {
        QString group;
        quint64 age;
    };
    struct Waiter
    {
        HttpConnection *connection;
        QString group;
        qint64 since;
    };

    int held(const QString &group) const
    {
        const auto holders = m_byGroup.constFind(group);
        return holders == m_byGroup.cend() ? 0 : int(holders->size());
    }
    // Of two groups holding slots, whether `a` holds more; among equals,
    // the one holding the oldest.
    bool holdsMore(const QString &a, const QString &b) const;
    // The group holding the most slots (null when none does), and all the
    // groups holding any, most first.
    QString largestGroup() const;
    QStringList groupsByShare() const;
    void take(HttpConnection *connection, const QString &group);
    void drop(HttpConnection *connection);
    // The connection in `group` that gives way for a newcomer from
    // `newcomerGroup`, or null.
    HttpConnection *givingWayIn(const QString &group, const QString &newcomerGroup) const;
    // The connection that gives way for a newcomer from `group`, or null.
    HttpConnection *givingWayFor(const QString &group) const;
    // The waiting connection owed a slot first: of the group holding the
    // fewest, the oldest.
    qsizetype nextOwed() const;

    int m_capacity;
    int m_waitingRoom;
    quint64 m_arrivals = 0;
    QHash<HttpConnection *, Holder> m_holders;
    // Each group's slot holders, oldest first.
    QHash<QString, QMap<quint64, HttpConnection *>> m_byGroup;
    QList<Waiter> m_waiting; // in arrival order
};

} // namespace tessivo::server
