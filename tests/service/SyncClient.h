#pragma once

#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"
#include "store/DocumentStore.h"
#include "store/ManualSaveClock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

// One computer of the user: its own data folder, settings, store, session,
// client and engine (whose debounce runs on a clock the test moves).
struct SyncClient
{
    QTemporaryDir folder;
    QSettings settings{folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::unique_ptr<DocumentStore> store;
    AuthManager auth;
    APIClient api;
    ManualSaveClock clock;
    std::unique_ptr<SyncEngine> engine;

    SyncClient(const QUrl &service, const QString &token) : api(service)
    {
        // No welcome document: it is never synced, so it would tell the
        // computers apart.
        Persistence::State state;
        state.welcomeSeeded = true;
        Persistence::saveState(state, base());
        open();
        auth.setTokenForTesting(token);
        api.setTokenProvider([this] { return auth.token(); });
    }
    ~SyncClient() { store->flushPendingSaves(); }

    QString base() const { return folder.filePath(QStringLiteral("data")); }

    // Reads the folder afresh, as after a restart.
    void open()
    {
        engine.reset();
        if (store) {
            store->flushPendingSaves();
        }
        store = std::make_unique<DocumentStore>(base(), &settings);
        QFuture<void> loading = store->load();
        QTRY_VERIFY(loading.isFinished());
        engine = std::make_unique<SyncEngine>(SyncEngine::Dependencies{store.get(), &auth, &api, &clock, {}});
    }

    bool syncOnce()
    {
        QFuture<void> done = engine->sync();
        return QTest::qWaitFor([&] { return done.isFinished(); }, 60000);
    }

    bool isClean() const
    {
        return store->state().dirtyDocumentIDs.isEmpty() && store->state().dirtyCollectionIDs.isEmpty();
    }

    // Every record this computer holds, sorted by id, as JSON.
    QByteArray snapshot() const
    {
        QList<QJsonObject> records;
        for (const auto *list : {&store->documents(), &store->tombstones()}) {
            for (const Document &d : *list) {
                records.append(d.toJson());
            }
        }
        for (const auto *list : {&store->collections(), &store->deletedCollections()}) {
            for (const Collection &c : *list) {
                records.append(c.toJson());
            }
        }
        std::sort(records.begin(), records.end(), [](const QJsonObject &a, const QJsonObject &b) {
            return a.value(QStringLiteral("id")).toString() < b.value(QStringLiteral("id")).toString();
        });
        QJsonArray array;
        for (const QJsonObject &r : records) {
            array.append(r);
        }
        return QJsonDocument(array).toJson(QJsonDocument::Indented);
    }
};

// Passes on both sides until neither has anything to push, then one more
// each so that both have pulled the other's last push.
inline bool converge(SyncClient &a, SyncClient &b)
{
    for (int round = 0; round < 6; ++round) {
        if (!a.syncOnce() || !b.syncOnce()) {
            return false;
        }
        if (a.isClean() && b.isClean()) {
            return a.syncOnce() && b.syncOnce();
        }
    }
    return false;
}
