#pragma once

#include "store/ManualSaveClock.h"

#include "publishing/core/PublishService.h"
#include "service/core/APIClient.h"
#include "store/DocumentStore.h"

#include "Server.h"

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
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<DocumentStore> store;

    bool start()
    {
        tessivo::server::ServerOptions options;
        options.listen = {{QHostAddress::LocalHost, 0}};
        options.database = QStringLiteral("sqlite::memory:");
        options.passwordIterations = 1000;
        server = std::make_unique<tessivo::server::Server>(options);
        if (!server->start(nullptr))
            return false;
        token = server->hooks()
                    .registerUser(QStringLiteral("ada@example.com"), QStringLiteral("Ada"))
                    .sessionToken;
        client = std::make_unique<APIClient>(server->baseUrl());
        client->setTokenProvider([this] { return std::optional(token); });
        settings =
            std::make_unique<QSettings>(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        return openStore();
    }

    // A store on the same folder, read afresh from disk.
    bool openStore()
    {
        store =
            std::make_unique<DocumentStore>(dir.filePath(QStringLiteral("base")), settings.get(), &saveClock);
        QFuture<void> loading = store->load();
        return QTest::qWaitFor([&] { return loading.isFinished(); }, 10'000) && store->isLoaded();
    }

    PublishService service() { return PublishService(client.get(), store.get()); }

    // Lets every debounced save run and land.
    void settle()
    {
        saveClock.advance(60'000);
        store->waitForWrites();
        QCoreApplication::sendPostedEvents();
    }

    template <typename T>
    static std::optional<T> outcome(QFuture<T> future)
    {
        if (!QTest::qWaitFor([&] { return future.isFinished(); }, 10'000) || future.isCanceled())
            return std::nullopt;
        return future.result();
    }
};
