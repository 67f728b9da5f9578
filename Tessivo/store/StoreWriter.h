#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QWaitCondition>

#include <deque>
#include <functional>
#include <memory>

// Runs the store's file writes on background threads of low priority while
// keeping the writes of one file in the order they were asked for: a file
// has at most one write running and one waiting, besides writes of many
// files that claimed it in between. A waiting write that a newer one
// replaces is dropped, since only the newest version must land.
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

    // Runs `job` on a background thread once none of `keys` has a write
    // running, as one write of all of them: writes of them that have not
    // started are dropped, and those asked for later run after it. Returns
    // at once; the files are claimed before it returns.
    void enqueue(const QStringList &keys, std::function<void()> job);

    // Runs `job` on the calling thread once the running write of `key` has
    // finished; a write of `key` that has not started yet is dropped.
    void runNow(const QString &key, const std::function<void()> &job);
    // The same for several files at once: `job` runs once none of `keys` has
    // a write running, and writes of them that have not started are dropped.
    void runNow(const QStringList &keys, const std::function<void()> &job);

    // Blocks until no write is running or waiting.
    void waitForIdle();

private:
    // A write of several files, waiting for the writes that held some of
    // them when it was asked for.
    struct Batch
    {
        QStringList keys;
        std::function<void()> job;
        int blockers = 0;
    };
    struct Slot
    {
        // A write holds the file: running, or a batch that has claimed it.
        bool running = false;
        // Batches that take the file, in turn, when its holder is done.
        std::deque<std::shared_ptr<Batch>> batches;
        // The one write of the file to run after those.
        std::function<void()> waiting;
    };
    // What releasing files made ready to run.
    struct Released
    {
        QList<std::pair<QString, std::function<void()>>> chains;
        QList<std::shared_ptr<Batch>> batches;
    };

    void runChain(const QString &key, std::function<void()> job);
    void runBatch(const std::shared_ptr<Batch> &batch);
    // With m_mutex held: hands `key` on to what waits for it, or frees it.
    void releaseLocked(const QString &key, Released *released);
    void start(Released &&released);
    void dropWaitingLocked(Slot &slot);

    QThreadPool m_pool;
    QMutex m_mutex;
    QWaitCondition m_changed;
    QHash<QString, Slot> m_slots;
    int m_outstanding = 0;
};
