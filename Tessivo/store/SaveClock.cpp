#include "SaveClock.h"

#include <QTimer>

#include <algorithm>
#include <limits>

SteadySaveClock::SteadySaveClock(QObject *parent) : SaveClock(parent), m_timer(new QTimer(this))
{
    m_elapsed.start();
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &SaveClock::woke);
}

qint64 SteadySaveClock::nowMs() const
{
    return m_elapsed.elapsed();
}

void SteadySaveClock::wakeAt(qint64 dueMs)
{
    m_timer->start(int(std::clamp<qint64>(dueMs - nowMs(), 0, std::numeric_limits<int>::max())));
}

void SteadySaveClock::cancelWake()
{
    m_timer->stop();
}
