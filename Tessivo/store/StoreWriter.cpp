#include "StoreWriter.h"

#include <QMutexLocker>
#include <QSet>

StoreWriter::StoreWriter()
{
    // Writes never hold up typing: low priority, a few threads so that many
    // documents saved at once do not queue behind each other.
    m_pool.setThreadPriority(QThread::LowPriority);
    m_pool.setMaxThreadCount(4);
}

StoreWriter::~StoreWriter()
{
    waitForIdle();
    m_pool.waitForDone();
}

void StoreWriter::enqueue(const QString &key, std::function<void()> job)
{
    QMutexLocker lock(&m_mutex);
    Slot &slot = m_slots[key];
    if (slot.running) {
        if (!slot.waiting) {
            ++m_outstanding;
        }
        slot.waiting = std::move(job);
        return;
    }
    slot.running = true;
    ++m_outstanding;
    lock.unlock();
    m_pool.start([this, key, job = std::move(job)]() mutable { runChain(key, std::move(job)); });
}

void StoreWriter::enqueue(const QStringList &keys, std::function<void()> job)
{
    auto batch = std::make_shared<Batch>();
    QSet<QString> seen;
    for (const QString &key : keys) {
        if (!seen.contains(key)) {
            seen.insert(key);
            batch->keys.append(key);
        }
    }
    batch->job = std::move(job);
    QMutexLocker lock(&m_mutex);
    ++m_outstanding;
    // Every file is claimed now, so that a write asked for after this call
    // can never land before the batch and be overwritten by it.
    for (const QString &key : std::as_const(batch->keys)) {
        Slot &slot = m_slots[key];
        dropWaitingLocked(slot);
        if (slot.running) {
            slot.batches.push_back(batch);
            ++batch->blockers;
        } else {
            slot.running = true;
        }
    }
    if (batch->blockers > 0) {
        return;
    }
    lock.unlock();
    m_pool.start([this, batch] { runBatch(batch); });
}

void StoreWriter::runChain(const QString &key, std::function<void()> job)
{
    while (job) {
        job();
        Released released;
        {
            QMutexLocker lock(&m_mutex);
            --m_outstanding;
            releaseLocked(key, &released);
            m_changed.wakeAll();
        }
        job = nullptr;
        if (!released.chains.isEmpty()) {
            // The waiting write stays counted: it runs next on this thread.
            job = std::move(released.chains.takeFirst().second);
        }
        start(std::move(released));
    }
}

void StoreWriter::runBatch(const std::shared_ptr<Batch> &batch)
{
    batch->job();
    batch->job = nullptr;
    Released released;
    {
        QMutexLocker lock(&m_mutex);
        --m_outstanding;
        for (const QString &key : std::as_const(batch->keys)) {
            releaseLocked(key, &released);
        }
        m_changed.wakeAll();
    }
    start(std::move(released));
}

void StoreWriter::releaseLocked(const QString &key, Released *released)
{
    auto it = m_slots.find(key);
    if (it == m_slots.end()) {
        return;
    }
    if (!it->batches.empty()) {
        // The file stays held, now by the batch.
        const std::shared_ptr<Batch> batch = std::move(it->batches.front());
        it->batches.pop_front();
        if (--batch->blockers == 0) {
            released->batches.append(batch);
        }
        return;
    }
    if (it->waiting) {
        released->chains.append({key, std::move(it->waiting)});
        it->waiting = nullptr;
        return;
    }
    m_slots.erase(it);
}

void StoreWriter::start(Released &&released)
{
    for (auto &chain : released.chains) {
        m_pool.start([this, key = chain.first, job = std::move(chain.second)]() mutable {
            runChain(key, std::move(job));
        });
    }
    for (const std::shared_ptr<Batch> &batch : std::as_const(released.batches)) {
        m_pool.start([this, batch] { runBatch(batch); });
    }
}

void StoreWriter::dropWaitingLocked(Slot &slot)
{
    if (slot.waiting) {
        slot.waiting = nullptr;
        --m_outstanding;
    }
}

void StoreWriter::runNow(const QString &key, const std::function<void()> &job)
{
    runNow(QStringList{key}, job);
}

void StoreWriter::runNow(const QStringList &keys, const std::function<void()> &job)
{
    QStringList unique;
    QSet<QString> seen;
    for (const QString &key : keys) {
        if (!seen.contains(key)) {
            seen.insert(key);
            unique.append(key);
        }
    }
    QMutexLocker lock(&m_mutex);
    for (;;) {
        bool busy = false;
        for (const QString &key : std::as_const(unique)) {
            auto it = m_slots.find(key);
            if (it == m_slots.end()) {
                continue;
            }
            dropWaitingLocked(*it);
            busy = busy || it->running;
        }
        if (!busy) {
            break;
        }
        m_changed.wait(&m_mutex);
    }
    for (const QString &key : std::as_const(unique)) {
        m_slots[key].running = true;
    }
    ++m_outstanding;
    lock.unlock();
    job();
    Released released;
    lock.relock();
    --m_outstanding;
    for (const QString &key : std::as_const(unique)) {
        releaseLocked(key, &released);
    }
    m_changed.wakeAll();
    lock.unlock();
    start(std::move(released));
}

void StoreWriter::waitForIdle()
{
    QMutexLocker lock(&m_mutex);
    while (m_outstanding > 0) {
        m_changed.wait(&m_mutex);
    }
}
