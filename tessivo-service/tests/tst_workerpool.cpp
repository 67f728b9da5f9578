// The order in which the service's worker threads take their jobs.
#include "RouteContext.h"
#include "SignInThrottle.h"
#include "WorkerPool.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <future>
#include <mutex>

using namespace tessivo::server;

class TestWorkerPool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A thousand readers of a large image each have a piece waiting; a new
    // client is served before them, and they still get their turn while new
    // requests keep coming.
    void newRequestsGoBeforeFollowUpsWithoutStarvingThem()
    {
        QTemporaryDir dir;
        ServerOptions options;
        options.database = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("pool.sqlite"));
        ServiceClock clock;
        SignInThrottle throttle(options.limits);
        WorkerPool pool;
        QString error;
        QVERIFY2(pool.start(1, options, clock, throttle, &error), qPrintable(error));

        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::promise<void> holding;
        pool.post([released, &holding](Router &) {
            holding.set_value();
            released.wait(); // holds the only thread
        });
        holding.get_future().wait();
        std::mutex lock;
        QStringList order;
        const auto note = [&](const QString &what) {
            return [&lock, &order, what](Router &) {
                const std::lock_guard guard(lock);
                order.append(what);
            };
        };
        for (int i = 0; i < 3; ++i)
            pool.postFollowUp(note(QStringLiteral("piece")));
        for (int i = 0; i < 5; ++i)
            pool.post(note(QStringLiteral("new")));
        std::promise<void> done;
        pool.postFollowUp([&done](Router &) { done.set_value(); });
        release.set_value();
        done.get_future().wait();

        const QStringList expected{QStringLiteral("new"),   QStringLiteral("new"),  QStringLiteral("new"),
                                   QStringLiteral("piece"), QStringLiteral("new"),  QStringLiteral("new"),
                                   QStringLiteral("piece"), QStringLiteral("piece")};
        QCOMPARE(order, expected);
    }
};

QTEST_GUILESS_MAIN(TestWorkerPool)
#include "tst_workerpool.moc"
