#pragma once

#include <QFuture>
#include <QObject>
#include <QPointer>

#include <functional>

// The main window's start-up task: load the store, start the sync engine,
// force a session refresh, then sync; each step awaited before the next,
// and each run whatever the previous one did. Cancelled when this object
// goes away (the window closed before it finished).
class AuthManager;
class DocumentStore;
class SyncEngine;
class StartupSequence final : public QObject
{
    Q_OBJECT

public:
    struct Steps
    {
        std::function<QFuture<void>()> loadStore;
        std::function<void()> startSync;
        std::function<QFuture<void>()> refreshSession;
        std::function<QFuture<void>()> sync;
    };

    // The app's own: load `store`, start `sync`, check `auth`'s session, sync.
    static Steps appSteps(DocumentStore *store, SyncEngine *sync, AuthManager *auth);

    explicit StartupSequence(Steps steps, QObject *parent = nullptr);

    // Runs the steps from the event loop; a second call does nothing.
    void start();
    bool isFinished() const { return m_finished; }

Q_SIGNALS:
    void finished();

private:
    void after(QFuture<void> future, void (StartupSequence::*next)());
    void stepStartSync();
    void stepSync();
    void finish();

    Steps m_steps;
    bool m_started = false;
    bool m_finished = false;
};
