#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

#include <deque>
#include <functional>

namespace tessivo::server {

// Milliseconds on a steady clock, for the pace of transfers; tests set one
// they advance themselves. Used on the thread that serves sockets only.
class SteadyClock
{
public:
    SteadyClock() { m_elapsed.start(); }
    qint64 now() const { return m_now ? m_now() : m_elapsed.elapsed(); }
    void set(std::function<qint64()> now) { m_now = std::move(now); }

private:
    QElapsedTimer m_elapsed;
    std::function<qint64()> m_now;
};

// Whether a transfer keeps a floor rate. Its progress is a count that only
// grows (bytes received, or bytes the peer took), sampled now and then and
// judged over the last window: a pause is forgiven when the transfer makes
// up for it within the window, a trickle is not.
class ProgressFloor
{
public:
    // Whether what a transfer makes in its grace counts toward its pace.
    enum class Grace {
        Counts,
        // For a count that buffers on the way also move (a reply's bytes
        // taken: the kernels' share can't be told from the reader's), and
        // that they move while the machine finds time, not on the clock.
        IsForgotten,
    };

    ProgressFloor(qint64 bytesPerSecond, qint64 windowMs, qint64 graceMs)
        : m_rate(bytesPerSecond), m_window(windowMs), m_grace(graceMs)
    {}

    void start(qint64 now, qint64 progress, Grace grace);
    void stop() { m_samples.clear(); }
    bool isRunning() const { return !m_samples.empty(); }
    // Records the progress at `now`; what lies before the window is forgotten.
    void sample(qint64 now, qint64 progress);
    // Past the grace, less progress over the time since the start (at most
    // the window) than the floor asks for that time less the grace.
    bool behind(qint64 now, qint64 progress) const;
    // Behind over a whole window.
    bool failed(qint64 now, qint64 progress) const;

private:
    struct Sample
    {
        qint64 at;
        qint64 progress;
    };

    qint64 m_rate;
    qint64 m_window;
    qint64 m_grace;
    qint64 m_start = 0;
    bool m_graceCounts = true;
    // Oldest first; the first is at or before the window's start.
    std::deque<Sample> m_samples;
};

} // namespace tessivo::server
