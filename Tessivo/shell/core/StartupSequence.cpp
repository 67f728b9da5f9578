#include "shell/core/StartupSequence.h"

#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"
#include "store/DocumentStore.h"

#include <QFutureWatcher>

StartupSequence::Steps StartupSequence::appSteps(DocumentStore *store, SyncEngine *sync, AuthManager *auth)
{
    return {
        [store] { return store->load(); },
        [sync] { sync->start(); },
        [auth] { return auth->refreshSession(true); },
        [sync] { return sync->sync(); },
    };
}

StartupSequence::StartupSequence(Steps steps, QObject *parent) : QObject(parent), m_steps(std::move(steps)) {}

void StartupSequence::start()
{
    if (m_started)
        return;
    m_started = true;
    after(m_steps.loadStore ? m_steps.loadStore() : QFuture<void>(), &StartupSequence::stepStartSync);
}

// Continues with `next` on this object's thread once `future` is done. The
// watcher is a child, so nothing continues after this object is destroyed.
void StartupSequence::after(QFuture<void> future, void (StartupSequence::*next)())
{
    if (future.isFinished()) {
        (this->*next)();
        return;
    }
    auto *watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher, next] {
        watcher->deleteLater();
        (this->*next)();
    });
    watcher->setFuture(future);
}

void StartupSequence::stepStartSync()
{
    if (m_steps.startSync)
        m_steps.startSync();
    after(m_steps.refreshSession ? m_steps.refreshSession() : QFuture<void>(), &StartupSequence::stepSync);
}

void StartupSequence::stepSync()
{
    after(m_steps.sync ? m_steps.sync() : QFuture<void>(), &StartupSequence::finish);
}

void StartupSequence::finish()
{
    m_finished = true;
    Q_EMIT finished();
}
