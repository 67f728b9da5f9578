#include "service/core/SyncEngine.h"

#include "service/core/AuthManager.h"
#include "store/DocumentStore.h"

#include <QTimer>

SyncEngine *SyncEngine::shared()
{
    static SyncEngine *instance = new SyncEngine;
    return instance;
}

SyncEngine::SyncEngine(DocumentStore *store, AuthManager *auth, QObject *parent)
    : QObject(parent), m_store(store), m_auth(auth), m_debounce(new QTimer(this))
{
    m_debounce->setSingleShot(true);
    m_debounce->setInterval(debounceMs);
    connect(m_debounce, &QTimer::timeout, this, [this] { sync(); });
}

DocumentStore *SyncEngine::store() const
{
    return m_store ? m_store.data() : DocumentStore::shared();
}

AuthManager *SyncEngine::auth() const
{
    return m_auth ? m_auth.data() : AuthManager::shared();
}

void SyncEngine::start()
{
    connect(store(), &DocumentStore::localChange, this, &SyncEngine::scheduleSync, Qt::UniqueConnection);
    QTimer::singleShot(0, this, [this] { sync(); });
}

void SyncEngine::scheduleSync()
{
    m_debounce->start();
}

bool SyncEngine::isSyncScheduled() const
{
    return m_debounce->isActive();
}

QFuture<void> SyncEngine::sync()
{
    if (!store()->isLoaded())
        return QtFuture::makeReadyFuture();
    if (!auth()->token()) {
        setStatus(Status::makeSignedOut());
        return QtFuture::makeReadyFuture();
    }
    // The pull and push pass comes with the service client; a session can
    // only exist once it does.
    return QtFuture::makeReadyFuture();
}

void SyncEngine::setStatus(const Status &status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT statusChanged();
}
