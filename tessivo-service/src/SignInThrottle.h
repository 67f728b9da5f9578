#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

namespace tessivo::server {

// Failed sign-ins over a sliding window, counted per client address and per
// (account, client address): a guesser is slowed down without locking the
// account's owner out from anywhere else. Times are the caller's clock.
class SignInThrottle
{
public:
    explicit SignInThrottle(int limit = 10, qint64 windowMs = 10 * 60 * 1000);

    // Milliseconds until `peer` may try to sign in to `email` again; 0 when
    // it may now.
    qint64 retryAfter(const QHostAddress &peer, const QString &email, qint64 now);
    void recordFailure(const QHostAddress &peer, const QString &email, qint64 now);

private:
    qint64 wait(QList<qint64> &failures, qint64 now) const;
    void forgetOld(qint64 now);

    int m_limit;
    qint64 m_window;
    qint64 m_lastSweep = 0;
    QHash<QString, QList<qint64>> m_failures; // oldest first
};

} // namespace tessivo::server
