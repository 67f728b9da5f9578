#pragma once

#include "store/ManualSaveClock.h"

#include "publishing/core/PublishService.h"
#include "service/core/APIClient.h"
#include "store/DocumentStore.h"

#include "service/LocalServer.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// An in-process service with one signed-in user, a client on it and a
// loaded store on a temporary folder whose saves wait for the test's clock.
struct PublishingFixture
{
    std::unique_ptr<tessivo::server::Server> server;
    QString token;
    std::unique_ptr<APIClient> client;
    QTemporaryDir dir;
    ManualSaveClock saveClock;
    QSettings settings{dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::unique_ptr<DocumentStore> store;

    bool start()
    {
        server = startLocalServer();
        token = server->hooks()
                    .registerUser(QStringLiteral("ada@example.com"), QStringLiteral("Ada"))
                    .sessionToken;
        client = std::make_unique<APIClient>(server->baseUrl());
        client->setTokenProvider([this] { return std::optional(token); });
        return openStore();
    }

    // A store on the same folder, read afresh from disk.
    bool openStore()
    {
        store = std::make_unique<DocumentStore>(dir.filePath(QStringLiteral("base")), &settings, &saveClock);
        QFuture<void> loading = store->load();
        return QTest::qWaitFor([&] { return loading.isFinished(); }, TestWaits::limitMs) && store->isLoaded();
    }

    PublishService service() { return PublishService(client.get(), store.get()); }
    QList<tessivo::server::LoggedRequest> log() { return server->hooks().requestLog(); }

    // The outcome of a publishing call; a failure "none" when it never came.
    static APIResult<QString> outcome(QFuture<APIResult<QString>> future)
    {
        if (!QTest::qWaitFor([&] { return future.isFinished(); }, TestWaits::limitMs) || future.isCanceled())
            return APIError{QStringLiteral("test"), QStringLiteral("none"), -1};
        return future.result();
    }
};
