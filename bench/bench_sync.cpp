// Sync passes against the local service, timed by hand: the first sync of
// 10,000 documents of about 4 KB into an empty store, then passes with one
// dirty document among them. For each: the wall time of the pass and the
// longest stretch the main thread spent without returning to its event
// loop (the service runs on a thread of its own, so only the app's work
// counts).
//
//   bench_sync [documents] [steady passes]

#include "TestHooks.h"
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/Keychain.h"
#include "service/core/SyncEngine.h"
#include "store/DocumentStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

namespace {

// Ticks every millisecond; the widest gap between two ticks is the longest
// the main thread was kept from its event loop.
class BlockMeter
{
public:
    BlockMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_sinceTick.restart()); });
    }
    void start()
    {
        m_longest = 0;
        m_sinceTick.start();
        m_timer.start();
    }
    qint64 stop()
    {
        m_timer.stop();
        return std::max(m_longest, m_sinceTick.elapsed());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};

QString body(int i)
{
    QString text = u"# Document %1\n\n"_s.arg(i);
    while (text.size() < 4000)
        text += u"Notes turn into drafts, drafts into posts, and posts into something worth keeping. "_s;
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int documents = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int passes = argc > 2 ? std::atoi(argv[2]) : 10;

    QThread serviceThread;
    QObject onService;
    onService.moveToThread(&serviceThread);
    serviceThread.start();
    Server *server = nullptr;
    Account account;
    QMetaObject::invokeMethod(
        &onService,
        [&] {
            ServerOptions options;
            options.listen = {{QHostAddress::LocalHost, 0}};
            options.database = u"sqlite::memory:"_s;
            server = new Server(options);
            server->start();
            account = server->hooks().registerUser(u"bench@example.com"_s, u"Bench"_s);
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            for (int i = 0; i < documents; ++i) {
                server->hooks().injectDocument(account.userId, {{"id", u"doc-%1"_s.arg(i)},
                                                                {"title", u"Document %1"_s.arg(i)},
                                                                {"body", body(i)},
                                                                {"createdAt", now - i},
                                                                {"updatedAt", now - i}});
            }
        },
        Qt::BlockingQueuedConnection);

    QTemporaryDir folder;
    QSettings settings(folder.filePath(u"settings.ini"_s), QSettings::IniFormat);
    DocumentStore store(folder.filePath(u"data"_s), &settings);
    QFuture<void> loading = store.load();
    while (!loading.isFinished())
        app.processEvents();
    APIClient api(server->baseUrl());
    const Keychain::Backend keyring = Keychain::inMemory();
    Keychain(keyring).save(account.sessionToken, QString::fromLatin1(Keychain::sessionTokenAccount));
    AuthManager auth(AuthManager::Dependencies{&api, Keychain(keyring), &store, &settings, {}});
    SyncEngine engine(SyncEngine::Dependencies{&store, &auth, &api, nullptr, {}});

    BlockMeter meter;
    const auto timedPass = [&](qint64 *blocked) {
        QElapsedTimer wall;
        wall.start();
        meter.start();
        QFuture<void> done = engine.sync();
        while (!done.isFinished())
            app.processEvents(QEventLoop::WaitForMoreEvents);
        *blocked = meter.stop();
        return wall.elapsed();
    };

    qint64 blocked = 0;
    const qint64 first = timedPass(&blocked);
    std::printf("first sync of %lld documents: %lld ms wall, longest main-thread block %lld ms (status %d)\n",
                qlonglong(store.documents().size()), qlonglong(first), qlonglong(blocked),
                int(engine.status().kind));

    QList<qint64> walls, blocks;
    for (int i = 0; i < passes; ++i) {
        store.updateBody(body(i) + u"edited %1"_s.arg(i), u"doc-%1"_s.arg(i * 7 % documents));
        walls.append(timedPass(&blocked));
        blocks.append(blocked);
    }
    std::sort(walls.begin(), walls.end());
    std::sort(blocks.begin(), blocks.end());
    std::printf("one dirty document among %d, %d passes: wall median %lld ms, max %lld ms; "
                "longest main-thread block median %lld ms, max %lld ms\n",
                documents, passes, qlonglong(walls.at(walls.size() / 2)), qlonglong(walls.last()),
                qlonglong(blocks.at(blocks.size() / 2)), qlonglong(blocks.last()));

    store.flushPendingSaves();
    QMetaObject::invokeMethod(
        &onService, [&] { delete server; }, Qt::BlockingQueuedConnection);
    serviceThread.quit();
    serviceThread.wait();
    return 0;
}
