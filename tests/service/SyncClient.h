#pragma once

#include "TestWaits.h"
#include "service/FakeKeyring.h"
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/Keychain.h"
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
    APIClient api;
    FakeKeyring keyring;
    std::unique_ptr<AuthManager> auth;
    ManualSaveClock clock;
    std::unique_ptr<SyncEngine> engine;

    // On a new data folder, or on `existing` as another run left it;
    // signed in when `token` is not empty.
    SyncClient(const QUrl &service, const QString &token, const QString &existing = {})
        : api(service), dataFolder(existing.isEmpty() ? folder.filePath(QStringLiteral("data")) : existing)
    {
        if (existing.isEmpty())
            seedFolder(dataFolder);
        if (!token.isEmpty())
            keyring.put(token);
        open();
    }
    ~SyncClient() { store->flushPendingSaves(); }

    const QString dataFolder;

    // No welcome document: it is never synced, so it would tell the
    // computers apart.
    static void seedFolder(const QString &base)
    {
        Persistence::State state;
        state.welcomeSeeded = true;
        Persistence::saveState(state, base);
    }

    // Reads the folder afresh, as after a restart.
    void open()
    {
        engine.reset();
        auth.reset();
        if (store)
            store->flushPendingSaves();
        store = std::make_unique<DocumentStore>(dataFolder, &settings);
        QFuture<void> loading = store->load();
        QTRY_VERIFY(loading.isFinished());
        auth = std::make_unique<AuthManager>(
            AuthManager::Dependencies{&api, Keychain(keyring.backend()), store.get(), &settings, {}});
        // The keyring answers on a later turn, as the Secret Service does.
        QTRY_VERIFY(!auth->isReading());
        engine =
            std::make_unique<SyncEngine>(SyncEngine::Dependencies{store.get(), auth.get(), &api, &clock, {}});
    }

    bool syncOnce()
    {
        QFuture<void> done = engine->sync();
        return QTest::qWaitFor([&] { return done.isFinished(); }, TestWaits::limitMs);
    }

    // Every record held, live or deleted, as JSON.
    QList<QJsonObject> records() const
    {
        QList<QJsonObject> out;
        for (const auto *list : {&store->documents(), &store->tombstones()})
            for (const Document &d : *list)
                out.append(d.toJson());
        for (const auto *list : {&store->collections(), &store->deletedCollections()})
            for (const Collection &c : *list)
                out.append(c.toJson());
        return out;
    }

    // Nothing to push: no dirty id names a record (after a kill, an id can
    // be marked while its document never reached the disk).
    bool isClean() const
    {
        QSet<QString> held;
        for (const QJsonObject &r : records())
            held.insert(r.value(QStringLiteral("id")).toString());
        const QStringList dirty = store->state().dirtyDocumentIDs + store->state().dirtyCollectionIDs;
        return std::none_of(dirty.cbegin(), dirty.cend(),
                            [&](const QString &id) { return held.contains(id); });
    }

    // Every record sorted by id, to compare two computers.
    QByteArray snapshot() const
    {
        QList<QJsonObject> sorted = records();
        std::sort(sorted.begin(), sorted.end(), [](const QJsonObject &a, const QJsonObject &b) {
            return a.value(QStringLiteral("id")).toString() < b.value(QStringLiteral("id")).toString();
        });
        QJsonArray array;
        for (const QJsonObject &r : sorted)
            array.append(r);
        return QJsonDocument(array).toJson(QJsonDocument::Indented);
    }
};

// Passes on both sides until neither has anything to push, then one more
// each so that both have pulled the other's last push.
inline bool converge(SyncClient &a, SyncClient &b)
{
    for (int round = 0; round < 6; ++round) {
        if (!a.syncOnce() || !b.syncOnce())
            return false;
        if (a.isClean() && b.isClean())
            return a.syncOnce() && b.syncOnce();
    }
    qWarning() << "not converged:" << a.engine->status().message << b.engine->status().message;
    return false;
}
