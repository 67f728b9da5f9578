#pragma once

#include "Peer.h"
#include "ServiceTypes.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <mutex>
#include <optional>

namespace tessivo::server {

// The sign-in page's limits, over sliding windows: failed sign-ins per peer
// and per (account, peer), which slow one guesser without locking the
// owner out from anywhere else; failed sign-ins per account from every peer
// together, past which the account is checked only once per interval
// (peers its owner signed in from are exempt); and sign-up attempts and new
// accounts per peer. An e-mail address with no account is limited like one
// with, so a 429 doesn't tell which addresses have accounts. Times are the
// caller's clock; every worker thread shares one.
//
// While an account is paced, its checks go in turn to the networks of
// peers that asked (ClientGroup: an IPv4 /16, an IPv6 /32), within each in
// turn to its groups (an IPv4 /24, an IPv6 /48), and within each to its
// peers: the next to the network that has waited longest, since its last
// check or since it first asked, to its group that has waited longest, and
// to that group's peer that has waited longest. Whoever holds many
// addresses in a few networks thus gets a few turns, however many groups
// they span, and the owner asking from another network waits about one
// turn per network asking. A peer told when to come back gets its turn
// then if it comes within a few seconds, and keeps its place for an
// interval more; a turn no peer ahead is due for goes to whoever asks. A
// refused try counts against the peer that made it, so polling for the
// next free check costs a guesser its own limit.
class SignInThrottle
{
public:
    explicit SignInThrottle(const ServiceLimits &limits);

    // Whether tries at `email` are being paced, so that the caller need
    // look up whether the peer is exempt only then.
    bool accountPaced(const QString &email, qint64 now);
    // Milliseconds until `peer` may try to sign in to `email` again, or 0
    // when it may now; the attempt then counts as failed until `succeeded`
    // takes it back, so that guesses checked at once on several workers
    // can't pass the limit together. `knownPeer`: the peer signed in to
    // the account recently, and isn't paced with everyone else.
    qint64 admit(const QHostAddress &peer, const QString &email, qint64 now, bool knownPeer = false);
    // The attempt admitted at `at` had the right password.
    void succeeded(const QHostAddress &peer, const QString &email, qint64 at);

    // Milliseconds until `peer` may try to make an account again, or 0 when
    // it may now; `accountsLimit` tells whether the accounts it made hold it
    // back (rather than its attempts). Every admitted attempt counts; as a
    // new account it counts until `signUpFailed` takes it back.
    qint64 admitSignUp(const QHostAddress &peer, qint64 now, bool *accountsLimit);
    void signUpFailed(const QHostAddress &peer, qint64 at);

private:
    struct Waiter
    {
        qint64 since = 0; // its last check, or when it first asked
        qint64 due = 0;   // when it was told to come back
        qsizetype group = 0;
    };
    struct Group // or a network
    {
        QString name;
        std::optional<qint64> checked; // its last check within the window
        qsizetype network = 0;         // of a group
    };
    struct Account
    {
        QList<qint64> failures; // oldest first, at most twice the limit
        qint64 lastCheck = 0;
        QHash<QString, qint64> checked; // peer: its last check within the window
        QList<Group> groups;            // each that asked while the account was tracked
        QHash<QString, qsizetype> groupIndex;
        QList<Group> networks; // likewise
        QHash<QString, qsizetype> networkIndex;
        QHash<QString, Waiter> waiting; // peers refused while paced

        qsizetype group(const ClientGroup &group);
    };

    bool paced(Account &account, qint64 now) const;
    // Milliseconds until the turn at a paced account of peer `key`, in
    // `group`, 0 when it is now.
    qint64 turnWait(Account &account, const QString &key, const ClientGroup &group, qint64 now);
    void forgetOld(qint64 now);

    const ServiceLimits m_limits;
    qint64 m_lastSweep = 0;
    QHash<QString, QList<qint64>> m_failures; // per peer, and per peer and account
    QHash<QString, Account> m_accounts;
    QHash<QString, QList<qint64>> m_signUpTries; // per peer: attempts
    QHash<QString, QList<qint64>> m_signUps;     // per peer: accounts made
    std::mutex m_mutex;
};

} // namespace tessivo::server
