#pragma once

#include "Peer.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <list>
#include <memory>

namespace tessivo::server {

class HttpConnection;

// What pull replies hold for records larger than a part, from when such a
// record is read until its reader has taken it: bounded for the whole
// process and shared between networks and client groups (ClientGroup), a
// group holding at most half unless it holds nothing. A reply that doesn't
// fit waits. The waiting reply whose network holds least goes first, of
// equals the one whose group holds least, and no later reply passes it;
// so whoever holds many neighbouring groups waits behind a newcomer from
// elsewhere. What it waits for is given back as readers take their
// records, and by readers that have fallen behind their floor rate: they
// are cut off for a waiting reply whose network (or, within one network,
// whose group) would hold less than theirs even with its room.
class ReplyBudget : public std::enable_shared_from_this<ReplyBudget>
{
public:
    // Room one reply holds, given back when it is reset or destroyed, on
    // any thread.
    class Hold
    {
    public:
        Hold() = default;
        Hold(Hold &&other) noexcept;
        Hold &operator=(Hold &&other) noexcept;
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;
        ~Hold() { reset(); }

        void reset();
        qint64 bytes() const { return m_bytes; }

    private:
        friend class ReplyBudget;
        std::shared_ptr<ReplyBudget> m_budget;
        quint64 m_id = 0;
        qint64 m_bytes = 0;
    };

    // Waiting replies are resumed on `home`'s thread.
    ReplyBudget(qint64 bytes, QObject *home);

    // Hands `granted` a hold of `bytes` for the reply `reader` is sent, at
    // once or once enough is given back; never once `reader` is gone. On
    // home's thread.
    void request(const ClientGroup &group, qint64 bytes, HttpConnection *reader,
                 std::function<void(Hold)> granted);
    // Looks again for readers that have fallen behind since, for the
    // replies waiting. On home's thread.
    void grantWaiting();
    bool hasWaiting() const;
    // Bytes held by all replies.
    qint64 held() const;

private:
    struct Waiter
    {
        ClientGroup group;
        qint64 bytes = 0;
        QPointer<HttpConnection> reader;
        std::function<void(Hold)> granted;
    };
    struct Held
    {
        ClientGroup group;
        qint64 bytes = 0;
        QPointer<HttpConnection> reader;
        bool cut = false; // its reader is being cut off
    };

    void giveBack(quint64 id);
    // Readers behind their floor to cut off for `waiter`, marked as cut.
    // With the mutex held.
    QList<QPointer<HttpConnection>> givingWay(const Waiter &waiter);

    const qint64 m_total;
    QPointer<QObject> m_home;
    mutable QMutex m_mutex;
    qint64 m_held = 0;
    quint64 m_holds = 0;
    QHash<quint64, Held> m_heldBy; // by hold
    // By group and by network, each key marked with its kind.
    QHash<QString, qint64> m_heldOf;
    std::list<Waiter> m_waiting; // in the order they asked
};

} // namespace tessivo::server
