#include "shell/core/TerminationSaves.h"

#include "store/Persistence.h"

#include <QDeadlineTimer>

TerminationSaves::TerminationSaves(QString baseDirectory, std::function<void()> waitForStoreWrites)
    : m_base(std::move(baseDirectory)), m_waitForStoreWrites(std::move(waitForStoreWrites))
{}

void TerminationSaves::remember(const Document &document)
{
    const QMutexLocker locker(&m_stateLock);
    m_documents.insert(document.id, document);
}

void TerminationSaves::forget(const QString &id)
{
    const QMutexLocker locker(&m_stateLock);
    m_documents.remove(id);
}

QStringList TerminationSaves::rememberedIDs() const
{
    const QMutexLocker locker(&m_stateLock);
    return m_documents.keys();
}

void TerminationSaves::acknowledge()
{
    const QMutexLocker locker(&m_stateLock);
    m_acknowledgedFlag = true;
    m_acknowledged.wakeAll();
}

void TerminationSaves::runFlush(const std::function<void()> &flush)
{
    const QMutexLocker locker(&m_writeLock);
    flush();
}

int TerminationSaves::guard(std::chrono::milliseconds grace)
{
    // Taken first, so the final flush (which writes newer values) cannot
    // start between the decision to write and the write.
    const QMutexLocker writing(&m_writeLock);
    QHash<QString, Document> documents;
    {
        QMutexLocker locker(&m_stateLock);
        const QDeadlineTimer deadline(grace);
        while (!m_acknowledgedFlag && m_acknowledged.wait(&m_stateLock, deadline)) {
        }
        if (m_acknowledgedFlag) {
            return 0;
        }
        // Copies share their text with the originals: cheap, and the main
        // thread may go on editing meanwhile.
        documents = m_documents;
    }
    if (m_waitForStoreWrites) {
        m_waitForStoreWrites();
    }
    int written = 0;
    for (const Document &document : std::as_const(documents)) {
        if (Persistence::saveDocument(document, m_base)) {
            ++written;
        }
    }
    qWarning("[persistence] the termination signal found the app busy; wrote %d edited documents", written);
    return written;
}
