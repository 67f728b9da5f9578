#include "WorkerPool.h"

#include <future>

namespace tessivo::server {

WorkerPool::~WorkerPool()
{
    stop();
}

bool WorkerPool::start(int threads, const ServerOptions &options, const ServiceClock &clock,
                       SignInThrottle &signInThrottle, QString *error)
{
    m_stopping = false;
    m_maxHeavy = std::max(1, threads / 2);
    for (int i = 0; i < threads; ++i) {
        // The connection is opened on its own thread, which alone may use it;
        // the next thread starts once it is open, so that schema checks
        // don't race.
        std::promise<QString> opened;
        std::future<QString> result = opened.get_future();
        QThread *thread = QThread::create([this, &options, &clock, &signInThrottle, &opened] {
            Router router(options, clock, signInThrottle);
            QString problem;
            const bool ok = router.open(&problem);
            opened.set_value(ok ? QString() : (problem.isEmpty() ? QStringLiteral("no database") : problem));
            if (ok)
                run(router);
        });
        thread->setObjectName(QStringLiteral("tessivo-worker-%1").arg(i));
        thread->start();
        m_threads.append(thread);
        const QString problem = result.get();
        if (!problem.isEmpty()) {
            if (error)
                *error = problem;
            stop();
            return false;
        }
    }
    return true;
}

void WorkerPool::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
        m_followUps.clear();
    }
    m_wake.notify_all();
    for (QThread *thread : std::as_const(m_threads)) {
        thread->wait();
        delete thread;
    }
    m_threads.clear();
}

void WorkerPool::post(Job job, bool heavy, const QString &client)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_jobs.push_back({std::move(job), heavy, client});
    }
    m_wake.notify_all();
}

void WorkerPool::postFollowUp(Job job)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_followUps.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void WorkerPool::runAndWait(const Job &job)
{
    if (m_threads.isEmpty()) {
        qWarning("The service isn't running: nothing done.");
        return;
    }
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    post([&job, &done](Router &router) {
        job(router);
        done.set_value();
    });
    finished.wait();
}

void WorkerPool::run(Router &router)
{
    for (;;) {
        Queued next;
        {
            std::unique_lock lock(m_mutex);
            auto runnable = m_jobs.end();
            m_wake.wait(lock, [&] {
                runnable = std::find_if(m_jobs.begin(), m_jobs.end(), [this](const Queued &queued) {
                    return !queued.heavy || m_heavyRunning < m_maxHeavy;
                });
                return m_stopping || runnable != m_jobs.end() || !m_followUps.empty();
            });
            if (m_stopping)
                return;
            if (!m_followUps.empty() && (runnable == m_jobs.end() || m_newInARow >= 3)) {
                m_newInARow = 0;
                Job followUp = std::move(m_followUps.front());
                m_followUps.pop_front();
                lock.unlock();
                followUp(router);
                continue;
            }
            if (!m_followUps.empty())
                ++m_newInARow;
            if (runnable->heavy) {
                // No light job waits before it: of the heavy ones, the first
                // of the client with the fewest running goes.
                for (auto it = std::next(runnable); it != m_jobs.end(); ++it) {
                    if (it->heavy &&
                        m_heavyRunningFor.value(it->client) < m_heavyRunningFor.value(runnable->client))
                        runnable = it;
                }
            }
            next = std::move(*runnable);
            m_jobs.erase(runnable);
            if (next.heavy) {
                ++m_heavyRunning;
                ++m_heavyRunningFor[next.client];
            }
        }
        next.job(router);
        if (next.heavy) {
            {
                std::lock_guard lock(m_mutex);
                --m_heavyRunning;
                if (--m_heavyRunningFor[next.client] <= 0)
                    m_heavyRunningFor.remove(next.client);
            }
            m_wake.notify_all();
        }
    }
}

} // namespace tessivo::server
