#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <mutex>

namespace tessivo::server {

// Failed sign-ins over a sliding window, counted per client address and per
// (account, client address): a guesser is slowed down without locking the
// account's owner out from anywhere else. Times are the caller's clock.
// Every worker thread shares one.
class SignInThrottle
{
public:
    explicit SignInThrottle(int limit = 10, qint64 windowMs = 10 * 60 * 1000);

    // Milliseconds until `peer` may try to sign in to `email` again, or 0
    // when it may now; the attempt then counts as failed until `succeeded`
    // takes it back, so that guesses checked at once on several workers
    // can't pass the limit together.
    qint64 admit(const QHostAddress &peer, const QString &email, qint64 now);
    // The attempt admitted at `at` had the right password.
    void succeeded(const QHostAddress &peer, const QString &email, qint64 at);

private:
    qint64 retryAfter(const QHostAddress &peer, const QString &email, qint64 now);
    void recordFailure(const QHostAddress &peer, const QString &email, qint64 now);
    qint64 wait(QList<qint64> &failures, qint64 now) const;
    void forgetOld(qint64 now);

    int m_limit;
    qint64 m_window;
    qint64 m_lastSweep = 0;
    QHash<QString, QList<qint64>> m_failures; // oldest first
    std::mutex m_mutex;
};

} // namespace tessivo::server
