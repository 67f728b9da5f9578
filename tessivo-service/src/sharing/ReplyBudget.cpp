#include "ReplyBudget.h"

#include "HttpConnection.h"

#include <tuple>

namespace tessivo::server {

namespace {
QString groupKey(const ClientGroup &group)
{
    return QStringLiteral("group ") + group.name;
}

QString networkKey(const ClientGroup &group)
{
    return QStringLiteral("network ") + group.network;
}
} // namespace

ReplyBudget::Hold::Hold(Hold &&other) noexcept
    : m_budget(std::move(other.m_budget)), m_id(other.m_id), m_bytes(std::exchange(other.m_bytes, 0))
{}

ReplyBudget::Hold &ReplyBudget::Hold::operator=(Hold &&other) noexcept
{
    if (this != &other) {
        reset();
        m_budget = std::move(other.m_budget);
        m_id = other.m_id;
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

void ReplyBudget::Hold::reset()
{
    if (m_budget && m_bytes > 0)
        m_budget->giveBack(m_id);
    m_budget.reset();
    m_bytes = 0;
}

ReplyBudget::ReplyBudget(qint64 bytes, QObject *home) : m_total(bytes), m_home(home) {}

void ReplyBudget::request(const ClientGroup &group, qint64 bytes, HttpConnection *reader,
                          std::function<void(Hold)> granted)
{
    {
        const QMutexLocker lock(&m_mutex);
        m_waiting.push_back({group, bytes, reader, std::move(granted)});
    }
    grantWaiting();
}

bool ReplyBudget::hasWaiting() const
{
    const QMutexLocker lock(&m_mutex);
    return !m_waiting.empty();
}

qint64 ReplyBudget::held() const
{
    const QMutexLocker lock(&m_mutex);
    return m_held;
}

void ReplyBudget::giveBack(quint64 id)
{
    const QMutexLocker lock(&m_mutex);
    const Held held = m_heldBy.take(id);
    m_held -= held.bytes;
    for (const QString &key : {groupKey(held.group), networkKey(held.group)}) {
        if ((m_heldOf[key] -= held.bytes) <= 0)
            m_heldOf.remove(key);
    }
    if (!m_waiting.empty() && m_home) {
        QMetaObject::invokeMethod(
            m_home,
            [budget = weak_from_this()] {
                if (const auto alive = budget.lock())
                    alive->grantWaiting();
            },
            Qt::QueuedConnection);
    }
}

QList<QPointer<HttpConnection>> ReplyBudget::givingWay(const Waiter &waiter)
{
    QHash<QString, qint64> heldOf = m_heldOf; // less what is being cut
    qint64 room = m_total - m_held;
    for (const Held &held : std::as_const(m_heldBy)) {
        if (held.cut) {
            room += held.bytes;
            heldOf[groupKey(held.group)] -= held.bytes;
            heldOf[networkKey(held.group)] -= held.bytes;
        }
    }
    const qint64 mineInNetwork = heldOf.value(networkKey(waiter.group)) + waiter.bytes;
    const qint64 mine = heldOf.value(groupKey(waiter.group)) + waiter.bytes;
    QList<QPointer<HttpConnection>> cut;
    while (room < waiter.bytes) {
        // Of the network holding the most, its group holding the most, the
        // oldest hold.
        auto victim = m_heldBy.end();
        std::tuple<bool, qint64, qint64, quint64> most{};
        for (auto held = m_heldBy.begin(); held != m_heldBy.end(); ++held) {
            if (held->cut || !held->reader || !held->reader->mayGiveWay())
                continue;
            const bool elsewhere = held->group.network != waiter.group.network;
            const qint64 network = heldOf.value(networkKey(held->group)),
                         group = heldOf.value(groupKey(held->group));
            if (elsewhere ? network <= mineInNetwork : held->group.name == waiter.group.name || group <= mine)
                continue;
            const std::tuple<bool, qint64, qint64, quint64> share{elsewhere, elsewhere ? network : 0, group,
                                                                  ~held.key()};
            if (victim == m_heldBy.end() || share > most) {
                victim = held;
                most = share;
            }
        }
        if (victim == m_heldBy.end())
            break;
        victim->cut = true;
        room += victim->bytes;
        heldOf[groupKey(victim->group)] -= victim->bytes;
        heldOf[networkKey(victim->group)] -= victim->bytes;
        cut.append(victim->reader);
    }
    return cut;
}

void ReplyBudget::grantWaiting()
{
    for (;;) {
        Waiter next;
        Hold hold;
        QList<QPointer<HttpConnection>> cut;
        {
            const QMutexLocker lock(&m_mutex);
            const qint64 share = m_total / 2;
            auto chosen = m_waiting.end();
            std::pair<qint64, qint64> chosenHeld;
            for (auto it = m_waiting.begin(); it != m_waiting.end();) {
                if (!it->reader) {
                    it = m_waiting.erase(it);
                    continue;
                }
                const qint64 groupHeld = m_heldOf.value(groupKey(it->group));
                const std::pair<qint64, qint64> held{m_heldOf.value(networkKey(it->group)), groupHeld};
                const bool withinShare = groupHeld == 0 || groupHeld + it->bytes <= share;
                if (withinShare && (chosen == m_waiting.end() || held < chosenHeld)) {
                    chosen = it;
                    chosenHeld = held;
                }
                ++it;
            }
            if (chosen == m_waiting.end())
                return;
            // A record larger than the whole budget still goes, alone.
            if (m_held > 0 && m_held + chosen->bytes > m_total) {
                cut = givingWay(*chosen);
            } else {
                next = std::move(*chosen);
                m_waiting.erase(chosen);
                const quint64 id = ++m_holds;
                m_heldBy.insert(id, {next.group, next.bytes, next.reader, false});
                m_held += next.bytes;
                m_heldOf[groupKey(next.group)] += next.bytes;
                m_heldOf[networkKey(next.group)] += next.bytes;
                hold.m_budget = shared_from_this();
                hold.m_id = id;
                hold.m_bytes = next.bytes;
            }
        }
        if (!next.granted) {
            // Their holds come back once their replies are gone, and the
            // waiting reply is looked at again then.
            for (const QPointer<HttpConnection> &reader : std::as_const(cut)) {
                if (reader)
                    reader->reset();
            }
            return;
        }
        next.granted(std::move(hold));
    }
}

} // namespace tessivo::server
