#include "SignInThrottle.h"

namespace tessivo::server {

namespace {
// One key per client: an IPv4 address (also when mapped into IPv6), or the
// /64 network of an IPv6 one, since a single IPv6 host usually holds all
// addresses of its /64.
QString peerKey(const QHostAddress &peer)
{
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString();
    Q_IPV6ADDR bytes = peer.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, 0);
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}
} // namespace

SignInThrottle::SignInThrottle(int limit, qint64 windowMs) : m_limit(limit), m_window(windowMs) {}

qint64 SignInThrottle::wait(QList<qint64> &failures, qint64 now) const
{
    while (!failures.isEmpty() && failures.first() <= now - m_window)
        failures.removeFirst();
    if (failures.size() < m_limit)
        return 0;
    return failures.at(failures.size() - m_limit) + m_window - now;
}

qint64 SignInThrottle::admit(const QHostAddress &peer, const QString &email, qint64 now)
{
    std::lock_guard lock(m_mutex);
    const qint64 waitMs = retryAfter(peer, email, now);
    if (waitMs == 0)
        recordFailure(peer, email, now);
    return waitMs;
}

void SignInThrottle::succeeded(const QHostAddress &peer, const QString &email, qint64 at)
{
    std::lock_guard lock(m_mutex);
    const QString key = peerKey(peer);
    for (const QString &k : {key, key + u' ' + email.toLower()}) {
        const auto it = m_failures.find(k);
        if (it == m_failures.end())
            continue;
        if (const qsizetype i = it->lastIndexOf(at); i >= 0)
            it->removeAt(i);
        if (it->isEmpty())
            m_failures.erase(it);
    }
}

qint64 SignInThrottle::retryAfter(const QHostAddress &peer, const QString &email, qint64 now)
{
    const QString key = peerKey(peer);
    qint64 longest = 0;
    for (const QString &k : {key, key + u' ' + email.toLower()}) {
        const auto it = m_failures.find(k);
        if (it != m_failures.end())
            longest = std::max(longest, wait(*it, now));
    }
    return longest;
}

void SignInThrottle::recordFailure(const QHostAddress &peer, const QString &email, qint64 now)
{
    forgetOld(now);
    const QString key = peerKey(peer);
    m_failures[key].append(now);
    m_failures[key + u' ' + email.toLower()].append(now);
}

void SignInThrottle::forgetOld(qint64 now)
{
    // Clients that stopped failing are forgotten once a window has passed,
    // so the table holds at most a window's worth of failures.
    if (now - m_lastSweep < m_window)
        return;
    m_lastSweep = now;
    for (auto it = m_failures.begin(); it != m_failures.end();) {
        wait(*it, now); // drops the failures that left the window
        if (it->isEmpty())
            it = m_failures.erase(it);
        else
            ++it;
    }
}

} // namespace tessivo::server
