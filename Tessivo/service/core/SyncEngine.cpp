#include "service/core/SyncEngine.h"

#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/SyncPass.h"
#include "store/DocumentStore.h"
#include "store/SaveClock.h"
#include "store/ThenWhileAlive.h"

#include <QPromise>
#include <QTimer>

// The debounce task: it sleeps until its wake-up, then runs one sync. Only
// the newest one is held; a replaced one is cancelled, and if the pass it
// started is still out, so is that pass's request.
struct SyncEngine::Debounce
{
    enum State { sleeping, running, ended };
    State state = sleeping;
    QPointer<SyncPass> pass;
};

SyncEngine::SyncEngine(Dependencies dependencies, QObject *parent)
    : QObject(parent), m_store(dependencies.store), m_auth(dependencies.auth), m_client(dependencies.client),
      m_clock(dependencies.clock ? dependencies.clock : new SteadySaveClock(this)),
      m_now(std::move(dependencies.now))
{
    connect(m_clock, &SaveClock::woke, this, &SyncEngine::debounceWoke);
    // The start-up and activation syncs run before a browser sign-in has
    // produced its token; without this the other computers' documents would
    // only arrive after the first edit.
    connect(m_auth, &AuthManager::signedIn, this, [this] { sync(); });
    connect(m_auth, &AuthManager::sessionRestored, this, [this] { sync(); });
}

SyncEngine::~SyncEngine() = default;

QDateTime SyncEngine::now() const
{
    return m_now ? m_now() : QDateTime::currentDateTimeUtc();
}

void SyncEngine::start()
{
    connect(m_store.data(), &DocumentStore::localChange, this, &SyncEngine::scheduleSync,
            Qt::UniqueConnection);
    QTimer::singleShot(0, this, [this] { sync(); });
}

void SyncEngine::scheduleSync()
{
    if (const std::shared_ptr<Debounce> old = std::exchange(m_debounce, nullptr)) {
        if (old->state == Debounce::sleeping) {
            m_clock->cancelWake();
        } else if (old->state == Debounce::running && old->pass) {
            old->pass->cancel();
        }
        old->state = Debounce::ended;
    }
    m_debounce = std::make_shared<Debounce>();
    m_clock->wakeAt(m_clock->nowMs() + debounceMs);
}

bool SyncEngine::isSyncScheduled() const
{
    return m_debounce && m_debounce->state == Debounce::sleeping;
}

void SyncEngine::debounceWoke()
{
    const std::shared_ptr<Debounce> debounce = m_debounce;
    if (!debounce || debounce->state != Debounce::sleeping) {
        return;
    }
    debounce->state = Debounce::running;
    const SyncPass *before = m_pass;
    QFuture<void> done = sync();
    if (m_pass && m_pass != before) {
        debounce->pass = m_pass;
    }
    thenWhileAlive(done, this, [debounce] {
        if (debounce->state == Debounce::running) {
            debounce->state = Debounce::ended;
        }
    });
}

QFuture<void> SyncEngine::sync()
{
    if (!m_store->isLoaded()) {
        return QtFuture::makeReadyFuture();
    }
    if (m_auth->isReading()) {
        // Whether there is a session is not known yet: the pass waits for
        // the keyring, and the status shown stays as it is.
        if (!m_heldSync) {
            m_heldSync = std::make_shared<QPromise<void>>();
            m_heldSync->start();
            m_auth->session()->whenSettled(this, [this] {
                const std::shared_ptr<QPromise<void>> held = std::exchange(m_heldSync, nullptr);
                thenWhileAlive(sync(), this, [held] { held->finish(); });
            });
        }
        return m_heldSync->future();
    }
    if (!m_auth->token()) {
        setStatus(Status::makeSignedOut());
        return QtFuture::makeReadyFuture();
    }
    if (m_running) {
        setQueued(true);
        return QtFuture::makeReadyFuture();
    }
    setRunning(true);
    m_statusBeforePass = m_status;
    m_passGeneration = m_auth->session()->generation();
    setStatus(Status::makeSyncing());

    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    m_passPromise = promise;
    auto *pass = new SyncPass(m_store, m_client, this);
    m_pass = pass;
    connect(pass, &SyncPass::finished, this, [this, pass] { passEnded(pass); });
    pass->start();
    return promise->future();
}

void SyncEngine::passEnded(SyncPass *pass)
{
    pass->deleteLater();
    m_pass = nullptr;
    const std::shared_ptr<QPromise<void>> promise = std::exchange(m_passPromise, nullptr);
    const auto done = [this, promise](const Status &status) {
        setStatus(status);
        finishPass();
        if (promise) {
            promise->finish();
        }
    };
    // Whether the session is still the one the pass began with: a sign-out
    // (or another sign-in) during the pass has made its outcome stale.
    const bool sameSession = m_auth && m_auth->session()->generation() == m_passGeneration;
    switch (pass->end()) {
    case SyncPass::End::unauthorized:
        // The service no longer knows the session the pass went out with:
        // it ends on this computer. The documents, the cursor and the dirty
        // lists stay for the next sign-in. A newer session is not the one
        // refused.
        if (sameSession) {
            qInfo("[sync] the service no longer knows this session: signed out on this computer");
            m_auth->signOut(true);
        }
        done(Status::makeSignedOut());
        return;
    case SyncPass::End::failed:
        done(Status::makeOffline(pass->message()));
        return;
    case SyncPass::End::cancelled:
        // A pass given up for a later one says nothing about the service;
        // what it found is still true only for the same session.
        done(sameSession ? m_statusBeforePass : Status::makeSignedOut());
        return;
    case SyncPass::End::synced:
    case SyncPass::End::running:
        break;
    }
    // Conflicted copies from the pass's last pull are dirty and unpushed;
    // the other computers should see them without waiting for an edit.
    if (pass->madeCopies()) {
        setQueued(true);
    }
    done(Status::makeSynced(now()));
}

void SyncEngine::finishPass()
{
    setRunning(false);
    if (m_queued) {
        setQueued(false);
        QTimer::singleShot(0, this, [this] { sync(); });
    }
}

void SyncEngine::setStatus(const Status &status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT statusChanged();
}

void SyncEngine::setRunning(bool running)
{
    if (running == m_running)
        return;
    m_running = running;
    Q_EMIT runningChanged();
}

void SyncEngine::setQueued(bool queued)
{
    if (queued == m_queued)
        return;
    m_queued = queued;
    Q_EMIT queuedChanged();
}
