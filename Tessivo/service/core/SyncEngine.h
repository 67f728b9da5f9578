#pragma once

#include <QDateTime>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class APIClient;
class AuthManager;
class DocumentStore;
class SaveClock;
class SyncPass;
template <typename T>
class QPromise;

// Decides when the store is synchronised with the service and publishes how
// the last pass went. Nothing syncs by timer or retry: a pass runs when
// start-up, activation, a finished sign-in, "Sync Now", the debounce of local
// edits or a request queued during a pass asks for one. One pass runs at a
// time; any number of requests during it cost one further pass. Main thread
// only.
class SyncEngine final : public QObject
{
    Q_OBJECT

public:
    struct Status
    {
        enum Kind { signedOut, syncing, offline, synced };
        Kind kind = signedOut;
        QString message; // offline only
        QDateTime at;    // synced only

        static Status makeSignedOut() { return {}; }
        static Status makeSyncing() { return {syncing, {}, {}}; }
        static Status makeOffline(const QString &message) { return {offline, message, {}}; }
        static Status makeSynced(const QDateTime &at) { return {synced, {}, at}; }

        // Same case and, for offline the same message, for synced the same time.
        friend bool operator==(const Status &a, const Status &b)
        {
            if (a.kind != b.kind)
                return false;
            if (a.kind == offline)
                return a.message == b.message;
            if (a.kind == synced)
                return a.at == b.at;
            return true;
        }
    };

    struct Dependencies
    {
        DocumentStore *store = nullptr; // required
        AuthManager *auth = nullptr;    // required
        APIClient *client = nullptr;    // required
        SaveClock *clock = nullptr;     // times the debounce; a steady clock when null
        std::function<QDateTime()> now; // stamps "synced"; the wall clock when empty
    };

    explicit SyncEngine(Dependencies dependencies, QObject *parent = nullptr);
    ~SyncEngine() override;

    const Status &status() const { return m_status; }
    // True from the start of a pass until it has finished.
    bool isRunning() const { return m_running; }
    // True when a sync was asked for while a pass ran.
    bool isQueued() const { return m_queued; }

    // Connects the store's localChange to scheduleSync() (once, however often
    // it is called) and starts a first sync on the next turn of the
    // event loop. Returns at once.
    void start();
    // Restarts the 3-second debounce after which sync() runs. A debounce
    // still waiting is dropped; one whose pass is out has that pass's
    // request cancelled, so the pass ends offline and the new debounce runs a
    // fresh one.
    void scheduleSync();
    bool isSyncScheduled() const;
    // One sync pass. Does nothing until the store has loaded; while the
    // session is read from the keyring it waits for that read (once, however
    // often asked); without a session token it sets the status to signed
    // out; during a pass it only
    // queues one more. Never fails to its caller; the future finishes when
    // the pass (or the decision not to run one) is over.
    QFuture<void> sync();

    static constexpr int debounceMs = 3000;

Q_SIGNALS:
    void statusChanged();
    void runningChanged();
    void queuedChanged();

private:
    struct Debounce;

    void setStatus(const Status &status);
    void setRunning(bool running);
    void setQueued(bool queued);
    void passEnded(SyncPass *pass);
    void finishPass();
    void debounceWoke();
    QDateTime now() const;

    QPointer<DocumentStore> m_store;
    QPointer<AuthManager> m_auth;
    QPointer<APIClient> m_client;
    SaveClock *m_clock = nullptr;
    std::function<QDateTime()> m_now;

    Status m_status;
    // What a cancelled pass puts back, and the session generation it began
    // under.
    Status m_statusBeforePass;
    quint64 m_passGeneration = 0;
    bool m_running = false;
    bool m_queued = false;
    std::shared_ptr<Debounce> m_debounce;
    QPointer<SyncPass> m_pass;
    std::shared_ptr<QPromise<void>> m_passPromise;
    // A sync asked for while the keyring is read.
    std::shared_ptr<QPromise<void>> m_heldSync;
};
