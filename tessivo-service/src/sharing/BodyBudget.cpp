#include "BodyBudget.h"

#include "HttpConnection.h"

#include <algorithm>
#include <tuple>
#include <vector>

namespace tessivo::server {

bool BodyBudget::hold(HttpConnection *connection, Body body, QList<HttpConnection *> *cut)
{
    // Accounts, peers, groups and networks are counted apart, so that no
    // key can stand for another.
    body.account.prepend(QStringLiteral("account "));
    body.peer.prepend(QStringLiteral("peer "));
    body.group.name.prepend(QStringLiteral("group "));
    body.group.network.prepend(QStringLiteral("network "));
    if (bytesOf(body.account) + body.bytes > m_share || bytesOf(body.peer) + body.bytes > m_share)
        return false;
    qint64 room = m_total - m_bytes;
    if (room < body.bytes) {
        struct Candidate
        {
            quint64 order;
            HttpConnection *connection;
            const ClientGroup *group;
            qint64 bytes;
        };
        std::vector<Candidate> candidates;
        QHash<QString, qint64> held; // by the other groups and networks, less what is cut
        for (auto other = m_held.cbegin(); other != m_held.cend(); ++other) {
            const ClientGroup &group = other->body.group;
            if (group.name == body.group.name || !other.key()->isReceivingBody())
                continue;
            candidates.push_back({other->order, other.key(), &group, other->body.bytes});
            held.insert(group.name, bytesOf(group.name));
            held.insert(group.network, bytesOf(group.network));
        }
        std::sort(candidates.begin(), candidates.end(),
                  [](const Candidate &a, const Candidate &b) { return a.order < b.order; });
        const qint64 mineInNetwork = bytesOf(body.group.network) + body.bytes;
        const qint64 mine = bytesOf(body.group.name) + body.bytes;
        std::vector<Candidate> victims;
        while (room < body.bytes) {
            // The oldest body of the group holding the most in the network
            // holding the most, of those holding more than the newcomer's.
            auto victim = candidates.end();
            std::tuple<bool, qint64, qint64> most{};
            for (auto candidate = candidates.begin(); candidate != candidates.end(); ++candidate) {
                const ClientGroup &group = *candidate->group;
                const bool elsewhere = group.network != body.group.network;
                if (elsewhere ? held[group.network] <= mineInNetwork : held[group.name] <= mine)
                    continue;
                const std::tuple<bool, qint64, qint64> share{elsewhere, elsewhere ? held[group.network] : 0,
                                                             held[group.name]};
                if (victim == candidates.end() || share > most) {
                    victim = candidate;
                    most = share;
                }
            }
            if (victim == candidates.end())
                return false;
            held[victim->group->name] -= victim->bytes;
            held[victim->group->network] -= victim->bytes;
            room += victim->bytes;
            victims.push_back(*victim);
            candidates.erase(victim);
        }
        for (const Candidate &victim : victims) {
            release(victim.connection);
            cut->append(victim.connection);
        }
    }
    m_bytes += body.bytes;
    for (const QString &key : {body.account, body.peer, body.group.name, body.group.network})
        m_bytesOf[key] += body.bytes;
    m_held.insert(connection, {body, ++m_arrivals});
    return true;
}

void BodyBudget::release(HttpConnection *connection)
{
    const auto held = m_held.constFind(connection);
    if (held == m_held.cend())
        return;
    const Body &body = held->body;
    m_bytes -= body.bytes;
    for (const QString &key : {body.account, body.peer, body.group.name, body.group.network}) {
        if ((m_bytesOf[key] -= body.bytes) <= 0)
            m_bytesOf.remove(key);
    }
    m_held.erase(held);
}

} // namespace tessivo::server
