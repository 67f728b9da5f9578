#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

namespace tessivo::server {

// The key every per-client cap and throttle counts under: an IPv4 address
// (also when mapped into IPv6), or the /64 network of an IPv6 one, since a
// single IPv6 host usually holds all addresses of its /64. ::1 counts as
// 127.0.0.1: one machine, whichever loopback family it connects over.
QString peerKey(const QHostAddress &address);

// Shared resources are divided fairly between client groups, so that
// whoever holds many addresses counts as one party: the group is an IPv4
// /24 or an IPv6 /48. A single party can also hold many neighbouring
// groups (one IPv6 /32 holds 65,536 /48s), so groups are gathered into
// networks, an IPv4 /16 or an IPv6 /32, and every share is worked out
// between networks first and between the groups of a network after. Four
// resources are shared that way:
// - connection slots (ConnectionSlots): at the cap, a newcomer whose
//   network, or failing that whose group, holds fewer slots than another
//   even with its own takes one from the network (the group) holding the
//   most;
// - the reply budget (ReplyBudget), what pull replies hold for large
//   records: waiting replies go in turn, the least-holding network and
//   group first, and a reply whose reader has fallen behind gives way;
// - the body budget (BodyBudget), room for large bodies being received:
//   a newcomer whose network (group) would hold less than the one holding
//   the most has that one's oldest bodies still on their way cut off;
// - sign-in turns (SignInThrottle) at an account under attack: in turn
//   to the networks asking, within each to its groups, within each to its
//   peers.
// Per-client caps still count by peerKey.
struct ClientGroup
{
    QString network; // "203.0.0.0/16", "2001:db8::/32"
    QString name;    // "203.0.113.0/24", "2001:db8:abcd::/48"

    bool operator==(const ClientGroup &) const = default;
};

ClientGroup clientGroup(const QHostAddress &address);
// The group's name alone.
QString peerGroup(const QHostAddress &address);

// The client of a request that came from `socketPeer` with the given
// X-Forwarded-For values: when `socketPeer` is a trusted proxy, the
// rightmost forwarded address that is not one (what a client writes into
// the header itself stands left of what the proxies append); otherwise
// `socketPeer`, whatever the header says.
QHostAddress forwardedClient(const QHostAddress &socketPeer, const QList<QByteArray> &forwardedFor,
                             const QList<QHostAddress> &trustedProxies);

bool isTrustedProxy(const QHostAddress &address, const QList<QHostAddress> &trustedProxies);

} // namespace tessivo::server
