#include "ServiceTypes.h"

#include "protocol/Rules.h"

namespace tessivo::server {

namespace {
QString duration(qint64 ms)
{
    constexpr qint64 second = 1000, minute = 60 * second, hour = 60 * minute, day = 24 * hour;
    const auto unit = [](qint64 n, const char *one, const char *many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    if (ms >= day && ms % day == 0)
        return unit(ms / day, "day", "days");
    if (ms >= hour && ms % hour == 0)
        return unit(ms / hour, "hour", "hours");
    if (ms >= minute && ms % minute == 0)
        return unit(ms / minute, "minute", "minutes");
    if (ms % second == 0)
        return QStringLiteral("%1 s").arg(ms / second);
    return QStringLiteral("%1 ms").arg(ms);
}

QString bytes(qint64 n)
{
    if (n >= 1024LL * 1024 * 1024 && n % (1024LL * 1024 * 1024) == 0)
        return QStringLiteral("%1 GiB").arg(n / (1024LL * 1024 * 1024));
    if (n >= 1024 * 1024 && n % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(n / (1024 * 1024));
    if (n >= 1024 && n % 1024 == 0)
        return QStringLiteral("%1 KiB").arg(n / 1024);
    return QStringLiteral("%1 bytes").arg(n);
}
} // namespace

qint64 ServiceLimits::protocolPullPieceBytes()
{
    return protocol::records::pullPieceBytes;
}

QStringList ServiceLimits::describe() const
{
    const QString overall = maxConnections > 0 ? QString::number(maxConnections)
                                               : QStringLiteral("the descriptors left once started, less 64");
    return {
        QStringLiteral("Connections: %1 at once, %2 per client (an IPv4 address or IPv6 /64). Slots are "
                       "shared between client groups (an IPv4 /24 or IPv6 /48; behind a trusted proxy, the "
                       "forwarded client's): at the cap a new connection from a group holding fewer than "
                       "the group holding the most, even with it, takes a slot from that group (one idle or "
                       "behind its floor first, else its oldest); any other takes the place of an idle or "
                       "slow one in a group "
                       "holding at least as many, or waits, unread, up to %3 for a free slot, then gets "
                       "503.")
            .arg(overall)
            .arg(maxConnectionsPerPeer)
            .arg(duration(headDeadlineMs)),
        QStringLiteral("Requests: the head (at most %1) within %2 of connecting; a body being sent and a "
                       "reply being read keep at least %3/s averaged over %4, or are cut off (at the "
                       "connection cap, once behind after %5).")
            .arg(bytes(maxHeadBytes), duration(headDeadlineMs), bytes(floorBytesPerSecond),
                 duration(floorWindowMs), duration(floorGraceMs)),
        QStringLiteral("Bodies over 64 KiB in flight: %1 at once, %2 per account and per client. When "
                       "all is taken, a group holding less than another will hold with a new body gets "
                       "room: the group holding the most has its oldest bodies still being sent cut off "
                       "with 503. Any other new body gets 503 with Retry-After before it is sent.")
            .arg(bytes(bodyBudgetBytes), bytes(bodyShareBytes)),
        QStringLiteral(
            "Unread replies: a pull's records larger than %1 are read only within %2 for the "
            "whole service, at most half of it per client group (an IPv4 /24 or IPv6 /48) unless "
            "the group holds none; a pull past that waits its turn, the group holding least first.")
            .arg(bytes(pullPartBytes), bytes(replyBudgetBytes)),
        QStringLiteral("Idle: a connection between requests, or a reply that stops coming, is closed after "
                       "%1; a streamed reply unread past %2 is dropped.")
            .arg(duration(idleTimeoutMs), bytes(maxQueuedBytes)),
        QStringLiteral("Storage: %1 per account (--quota). A sync that replaces a text its sender never "
                       "saw keeps that text as a conflicted copy even past the quota, up to twice it, as it "
                       "keeps the app's own copy of a text it replaces; a sync that would keep more is "
                       "refused whole and the app keeps its text unsynced. %2 image uploads at once per "
                       "account.")
            .arg(bytes(quotaBytes))
            .arg(maxUploadsPerAccount),
        QStringLiteral(
            "Sign-in: %1 failures per client in %2; past %3 failures to one account in %4, from "
            "anywhere, one try per %5, taken in turn by the groups of clients asking (an IPv4 /24 or IPv6 "
            "/48), the group that has waited longest first, then the client in it that has (clients that "
            "signed in to it in the last %6 are exempt).")
            .arg(signInFailuresPerPeer)
            .arg(duration(signInWindowMs))
            .arg(signInFailuresPerAccount)
            .arg(duration(accountWindowMs), duration(accountCheckIntervalMs), duration(knownPeerMs)),
        QStringLiteral("Sign-up: %1 attempts, %2 of them new accounts, per client in %3.")
            .arg(signUpAttemptsPerPeer)
            .arg(signUpsPerPeer)
            .arg(duration(signUpWindowMs)),
    };
}

QByteArray LoggedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool LoggedRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace tessivo::server
