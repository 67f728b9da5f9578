#pragma once

#include "store/SaveClock.h"

#include <optional>

// A save clock that moves only when a test advances it: a debounce is then
// driven step by step instead of waited for.
class ManualSaveClock final : public SaveClock
{
public:
    qint64 nowMs() const override { return m_now; }
    void wakeAt(qint64 dueMs) override { m_wake = dueMs; }
    void cancelWake() override { m_wake.reset(); }

    void advance(qint64 ms)
    {
        m_now += ms;
        while (m_wake && *m_wake <= m_now) {
            m_wake.reset();
            Q_EMIT woke();
        }
    }

private:
    qint64 m_now = 0;
    std::optional<qint64> m_wake;
};
