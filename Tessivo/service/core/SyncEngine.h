#pragma once

#include <QDateTime>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QString>

class DocumentStore;
class AuthManager;
class QTimer;

// The one sync driver. It wires itself to the store's change callback,
// debounces local changes by 3 seconds and runs a sync when asked. Until the
// service client exists there is never a session token, so every sync ends
// at once in the signed-out status.
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

    static SyncEngine *shared();

    // `store` and `auth` default to the shared instances.
    explicit SyncEngine(DocumentStore *store = nullptr, AuthManager *auth = nullptr,
                        QObject *parent = nullptr);

    const Status &status() const { return m_status; }

    // Connects the store's localChange to scheduleSync() (once, however often
    // it is called) and starts a first sync on the next turn of the
    // event loop. Returns at once.
    void start();
    // Restarts the 3-second debounce after which sync() runs.
    void scheduleSync();
    bool isSyncScheduled() const;
    // One sync pass. Does nothing until the store has loaded; without a
    // session token it sets the status to signed out. Never fails to its
    // caller; the future finishes when the pass (or the decision not to run
    // one) is over.
    QFuture<void> sync();

    static constexpr int debounceMs = 3000;

Q_SIGNALS:
    void statusChanged();

private:
    void setStatus(const Status &status);
    DocumentStore *store() const;
    AuthManager *auth() const;

    QPointer<DocumentStore> m_store;
    QPointer<AuthManager> m_auth;
    Status m_status;
    QTimer *m_debounce;
};
