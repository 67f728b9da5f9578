#pragma once

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <list>
#include <memory>

namespace tessivo::server {

// What pull replies hold for records larger than a part, from when such a
// record is read until its reader has taken it: bounded for the whole
// process and shared between client groups (peerGroup), a group holding at
// most half unless it holds nothing. A reply that doesn't fit waits; the
// waiting group that holds least goes first and no later reply passes it,
// so every reader gets its turn once unread replies are taken or cut off
// at their floor rate.
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
        QString m_group;
        qint64 m_bytes = 0;
    };

    // Waiting replies are resumed on `home`'s thread.
    ReplyBudget(qint64 bytes, QObject *home);

    // Hands `granted` a hold of `bytes` for `group`, at once or once enough
    // is given back; never once `context` is gone. On home's thread.
    void request(const QString &group, qint64 bytes, QObject *context, std::function<void(Hold)> granted);
    // Bytes held by all replies.
    qint64 held() const;

private:
    struct Waiter
    {
        QString group;
        qint64 bytes = 0;
        QPointer<QObject> context;
        std::function<void(Hold)> granted;
    };

    void giveBack(const QString &group, qint64 bytes);
    void grantWaiting();

    const qint64 m_total;
    QPointer<QObject> m_home;
    mutable QMutex m_mutex;
    qint64 m_held = 0;
    QHash<QString, qint64> m_heldBy;
    std::list<Waiter> m_waiting; // in the order they asked
};

} // namespace tessivo::server
