#include "ReplyBudget.h"

namespace tessivo::server {

ReplyBudget::Hold::Hold(Hold &&other) noexcept
    : m_budget(std::move(other.m_budget)), m_group(std::move(other.m_group)),
      m_bytes(std::exchange(other.m_bytes, 0))
{}

ReplyBudget::Hold &ReplyBudget::Hold::operator=(Hold &&other) noexcept
{
    if (this != &other) {
        reset();
        m_budget = std::move(other.m_budget);
        m_group = std::move(other.m_group);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

void ReplyBudget::Hold::reset()
{
    if (m_budget && m_bytes > 0)
        m_budget->giveBack(m_group, m_bytes);
    m_budget.reset();
    m_bytes = 0;
}

ReplyBudget::ReplyBudget(qint64 bytes, QObject *home) : m_total(bytes), m_home(home) {}

void ReplyBudget::request(const QString &group, qint64 bytes, QObject *context,
                          std::function<void(Hold)> granted)
{
    {
        const QMutexLocker lock(&m_mutex);
        m_waiting.push_back({group, bytes, context, std::move(granted)});
    }
    grantWaiting();
}

qint64 ReplyBudget::held() const
{
    const QMutexLocker lock(&m_mutex);
    return m_held;
}

void ReplyBudget::giveBack(const QString &group, qint64 bytes)
{
    const QMutexLocker lock(&m_mutex);
    m_held -= bytes;
    if ((m_heldBy[group] -= bytes) <= 0)
        m_heldBy.remove(group);
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

void ReplyBudget::grantWaiting()
{
    for (;;) {
        Waiter next;
        Hold hold;
        {
            const QMutexLocker lock(&m_mutex);
            const qint64 share = m_total / 2;
            auto chosen = m_waiting.end();
            qint64 chosenHeld = 0;
            for (auto it = m_waiting.begin(); it != m_waiting.end();) {
                if (!it->context) {
                    it = m_waiting.erase(it);
                    continue;
                }
                const qint64 groupHeld = m_heldBy.value(it->group);
                const bool withinShare = groupHeld == 0 || groupHeld + it->bytes <= share;
                if (withinShare && (chosen == m_waiting.end() || groupHeld < chosenHeld)) {
                    chosen = it;
                    chosenHeld = groupHeld;
                }
                ++it;
            }
            // A record larger than the whole budget still goes, alone.
            if (chosen == m_waiting.end() || (m_held > 0 && m_held + chosen->bytes > m_total))
                return;
            next = std::move(*chosen);
            m_waiting.erase(chosen);
            m_held += next.bytes;
            m_heldBy[next.group] += next.bytes;
            hold.m_budget = shared_from_this();
            hold.m_group = next.group;
            hold.m_bytes = next.bytes;
        }
        next.granted(std::move(hold));
    }
}

} // namespace tessivo::server
