#pragma once

#include "ServiceTypes.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <mutex>

namespace tessivo::server {

// The sign-in page's limits, over sliding windows: failed sign-ins per peer
// and per (account, peer), which slow one guesser without locking the
// owner out from anywhere else; failed sign-ins per account from every peer
// together, past which the account is checked only once per interval
// (peers its owner signed in from are exempt); and new accounts per peer.
// An e-mail address with no account is limited like one with, so a 429
// doesn't tell which addresses have accounts. Times are the caller's clock;
// every worker thread shares one.
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

    // Milliseconds until `peer` may make another account, or 0 when it may
    // now; the attempt counts until `signUpFailed` takes it back.
    qint64 admitSignUp(const QHostAddress &peer, qint64 now);
    void signUpFailed(const QHostAddress &peer, qint64 at);

private:
    struct Account
    {
        QList<qint64> failures; // oldest first, at most the limit's worth
        qint64 lastCheck = 0;
    };

    qint64 accountWait(const QString &email, qint64 now);
    void forgetOld(qint64 now);

    const ServiceLimits m_limits;
    qint64 m_lastSweep = 0;
    QHash<QString, QList<qint64>> m_failures; // per peer, and per peer and account
    QHash<QString, Account> m_accounts;
    QHash<QString, QList<qint64>> m_signUps;
    std::mutex m_mutex;
};

} // namespace tessivo::server
