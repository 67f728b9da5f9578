#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QWaitCondition>

#include <functional>

// Runs the store's file writes on background threads of low priority while
// keeping the writes of one file in the order they were asked for: a file
// has at most one write running and one waiting. A waiting write that a
// newer one replaces is dropped, since only the newest version must land.
class StoreWriter final
{
public:
    StoreWriter();
    // Waits for every write that is running or waiting.
    ~StoreWriter();

    StoreWriter(const StoreWriter &) = delete;
    StoreWriter &operator=(const StoreWriter &) = delete;

    // Runs `job` on a background thread after the running write of `key`,
    // replacing a write of `key` that has not started yet.
    void enqueue(const QString &key, std::function<void()> job);

    // Runs `job` on the calling thread once the running write of `key` has
    // finished; a write of `key` that has not started yet is dropped.
    void runNow(const QString &key, const std::function<void()> &job);
    // The same for several files at once: `job` runs once none of `keys` has
    // a write running, and writes of them that have not started are dropped.
    void runNow(const QStringList &keys, const std::function<void()> &job);

    // Blocks until no write is running or waiting.
    void waitForIdle();

private:
    struct Slot
    {
        bool running = false;
        std::function<void()> waiting;
    };

    void runChain(const QString &key, std::function<void()> job);
    void finishOne(const QString &key, std::function<void()> *next);

    QThreadPool m_pool;
    QMutex m_mutex;
    QWaitCondition m_changed;
    QHash<QString, Slot> m_slots;
    int m_outstanding = 0;
};
