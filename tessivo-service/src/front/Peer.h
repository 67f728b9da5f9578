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

// The group a client belongs to when shared resources (connection slots, the
// body budget, sign-in turns) are divided fairly: an IPv4 /24 or an IPv6 /48,
// so that whoever holds a handful of neighbouring addresses counts as one
// party. Per-client caps still count by peerKey.
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
