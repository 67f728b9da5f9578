#pragma once

#include "Peer.h"

#include <QHash>
#include <QList>
#include <QString>

namespace tessivo::server {

class HttpConnection;

// Room for large bodies being received, by declared length: bounded for
// the whole process, at most a share of it per account and per peer, and
// shared between networks and client groups (see ClientGroup). With the
// budget taken, a body just above the floor rate would keep its room for
// hours, and whoever came first would hold it. So room is made for a
// newcomer by the network holding the most, when that is more than the
// newcomer's network will hold with this body, and failing that by the
// group of its own network holding the most, likewise: their oldest bodies
// still being received are cut off, as few as make room. Whoever is cut
// holds more than the newcomer's side did, so it can't cut back in turn; a
// newcomer whose side already holds as much as any other waits for room
// like everyone else.
class BodyBudget
{
public:
    BodyBudget(qint64 total, qint64 share) : m_total(total), m_share(share) {}

    struct Body
    {
        QString account;
        QString peer;
        ClientGroup group;
        qint64 bytes = 0;
    };

    // Counts `body` for `connection` until released, and true; false when
    // it would take its account or peer past its share, or needs room that
    // nobody owes it. The bodies cut off to make room are released and in
    // `cut`, for the caller to refuse.
    bool hold(HttpConnection *connection, Body body, QList<HttpConnection *> *cut);
    // The connection's body has been answered, or its connection closed.
    void release(HttpConnection *connection);

private:
    struct Held
    {
        Body body;
        quint64 order = 0;
    };

    qint64 bytesOf(const QString &key) const { return m_bytesOf.value(key); }

    qint64 m_total;
    qint64 m_share;
    qint64 m_bytes = 0;
    quint64 m_arrivals = 0;
    // By account, peer, group and network, each key marked with its kind.
    QHash<QString, qint64> m_bytesOf;
    QHash<HttpConnection *, Held> m_held;
};

} // namespace tessivo::server
