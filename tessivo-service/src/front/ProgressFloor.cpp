#include "ProgressFloor.h"

#include <algorithm>

namespace tessivo::server {

void ProgressFloor::start(qint64 now, qint64 progress, Grace grace)
{
    m_start = now;
    m_graceCounts = grace == Grace::Counts;
    m_samples.assign(1, {now, progress});
}

void ProgressFloor::sample(qint64 now, qint64 progress)
{
    if (m_samples.empty())
        return;
    // The start stays: the grace is not made longer, only its progress
    // left out.
    if (!m_graceCounts && now - m_start <= m_grace) {
        m_samples.assign(1, {now, progress});
        return;
    }
    m_samples.push_back({now, progress});
    while (m_samples.size() > 2 && m_samples[1].at <= now - m_window)
        m_samples.pop_front();
}

bool ProgressFloor::behind(qint64 now, qint64 progress) const
{
    if (m_samples.empty())
        return false;
    const qint64 span = std::min(now - m_start, m_window);
    if (span <= m_grace)
        return false;
    // Progress since the last sample at or before the window's start: a
    // little more than the window, never less.
    const qint64 from = now - span;
    qint64 baseline = m_samples.front().progress;
    for (const Sample &sample : m_samples) {
        if (sample.at > from)
            break;
        baseline = sample.progress;
    }
    return (progress - baseline) * 1000 < m_rate * (span - m_grace);
}

bool ProgressFloor::failed(qint64 now, qint64 progress) const
{
    return isRunning() && now - m_start >= m_window && behind(now, progress);
}

} // namespace tessivo::server
