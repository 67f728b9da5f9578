#pragma once

#include "Router.h"

#include <QHash>
#include <QList>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace tessivo::server {

// Threads that run SQL, password hashing and page rendering away from the
// thread that serves sockets. Each thread has a Router with a database
// connection of its own. Jobs run in the order they were posted, on the
// first free thread, follow-ups of replies under way after new requests.
class WorkerPool
{
public:
    using Job = std::function<void(Router &)>;

    WorkerPool() = default;
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // Starts `threads` threads and opens their connections one after another.
    bool start(int threads, const ServerOptions &options, const ServiceClock &clock,
               SignInThrottle &signInThrottle, QString *error);
    // Jobs still queued are dropped; running ones finish first.
    void stop();
    // A heavy job (a password hash) waits while half the threads run
    // heavy jobs, so that the other half stay free for everything else;
    // a free heavy slot goes to the waiting job whose `client` runs the
    // fewest heavy jobs, so that one client's flood doesn't queue everyone
    // else's behind it.
    void post(Job job, bool heavy = false, const QString &client = {});
    // The next step of a reply already under way (an image's next piece).
    // New requests go first, so that the readers of large replies can't
    // keep a new client waiting; while both wait, every fourth job taken is
    // a follow-up, so that new requests can't stall the replies either.
    void postFollowUp(Job job);
    // Runs `job` on a worker and waits for it: for start-up work and tests.
    void runAndWait(const Job &job);

private:
    void run(Router &router);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    struct Queued
    {
        Job job;
        bool heavy = false;
        QString client;
    };
    std::deque<Queued> m_jobs;
    std::deque<Job> m_followUps;
    // New requests taken in a row while follow-ups waited.
    int m_newInARow = 0;
    int m_heavyRunning = 0;
    QHash<QString, int> m_heavyRunningFor; // per client
    int m_maxHeavy = 1;
    bool m_stopping = false;
    QList<QThread *> m_threads;
};

} // namespace tessivo::server
