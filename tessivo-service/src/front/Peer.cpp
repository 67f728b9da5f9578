#include "Peer.h"

#include <algorithm>

namespace tessivo::server {

QString peerKey(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString();
    if (address.isEqual(QHostAddress::LocalHostIPv6))
        return QHostAddress(QHostAddress::LocalHost).toString();
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, 0);
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

ClientGroup clientGroup(const QHostAddress &address)
{
    bool isV4 = false;
    quint32 v4 = address.toIPv4Address(&isV4);
    if (!isV4 && address.isEqual(QHostAddress::LocalHostIPv6)) {
        v4 = QHostAddress(QHostAddress::LocalHost).toIPv4Address();
        isV4 = true;
    }
    if (isV4)
        return {QHostAddress(v4 & 0xffff0000u).toString() + QStringLiteral("/16"),
                QHostAddress(v4 & 0xffffff00u).toString() + QStringLiteral("/24")};
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(bytes.c + 6, bytes.c + 16, 0);
    const QString group = QHostAddress(bytes).toString() + QStringLiteral("/48");
    std::fill(bytes.c + 4, bytes.c + 6, 0);
    return {QHostAddress(bytes).toString() + QStringLiteral("/32"), group};
}

QString peerGroup(const QHostAddress &address)
{
    return clientGroup(address).name;
}

bool isTrustedProxy(const QHostAddress &address, const QList<QHostAddress> &trustedProxies)
{
    return std::any_of(trustedProxies.begin(), trustedProxies.end(),
                       [&](const QHostAddress &proxy) { return proxy.isEqual(address); });
}

QHostAddress forwardedClient(const QHostAddress &socketPeer, const QList<QByteArray> &forwardedFor,
                             const QList<QHostAddress> &trustedProxies)
{
    if (!isTrustedProxy(socketPeer, trustedProxies))
        return socketPeer;
    QList<QByteArray> hops;
    for (const QByteArray &value : forwardedFor)
        hops += value.split(',');
    QHostAddress client = socketPeer;
    for (auto hop = hops.crbegin(); hop != hops.crend(); ++hop) {
        const QHostAddress address(QString::fromLatin1(hop->trimmed()));
        if (address.isNull())
            break; // not what a proxy writes: trust nothing further left
        client = address;
        if (!isTrustedProxy(address, trustedProxies))
            break;
    }
    return client;
}

} // namespace tessivo::server
