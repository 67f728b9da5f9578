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

void StoreWriter::runChain(const QString &key, std::function<void()> job)
{
    while (job) {
        job();
        std::function<void()> next;
        finishOne(key, &next);
        job = std::move(next);
    }
}

void StoreWriter::finishOne(const QString &key, std::function<void()> *next)
{
    QMutexLocker lock(&m_mutex);
    --m_outstanding;
    auto it = m_slots.find(key);
    if (it != m_slots.end() && it->waiting) {
        // The waiting write stays counted: it runs next on this thread.
        *next = std::move(it->waiting);
        it->waiting = nullptr;
    } else if (it != m_slots.end()) {
        m_slots.erase(it);
    }
    m_changed.wakeAll();
}

void StoreWriter::runNow(const QString &key, const std::function<void()> &job)
{
    runNow(QStringList{key}, job);
}

void StoreWriter::runNow(const QStringList &keys, const std::function<void()> &job)
{
    QMutexLocker lock(&m_mutex);
    for (;;) {
        bool busy = false;
        for (const QString &key : keys) {
            auto it = m_slots.find(key);
            if (it == m_slots.end()) {
                continue;
            }
            if (it->waiting) {
                it->waiting = nullptr;
                --m_outstanding;
            }
            busy = busy || it->running;
        }
        if (!busy) {
            break;
        }
        m_changed.wait(&m_mutex);
    }
    for (const QString &key : keys) {
        Slot &slot = m_slots[key];
        if (!slot.running) {
            slot.running = true;
            ++m_outstanding;
        }
    }
    lock.unlock();
    job();
    QSet<QString> finished;
    for (const QString &key : keys) {
        if (finished.contains(key)) {
            continue;
        }
        finished.insert(key);
        std::function<void()> next;
        finishOne(key, &next);
        if (next) {
            m_pool.start([this, key, next = std::move(next)]() mutable { runChain(key, std::move(next)); });
        }
    }
}

void StoreWriter::waitForIdle()
{
    QMutexLocker lock(&m_mutex);
    while (m_outstanding > 0) {
        m_changed.wait(&m_mutex);
    }
}
