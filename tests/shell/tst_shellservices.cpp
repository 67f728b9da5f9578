#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"
#include "shell/core/StartupSequence.h"
#include "shell/core/UpdaterController.h"
#include "store/DocumentStore.h"

#include <QPromise>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

// A step whose completion the test decides.
struct ControlledStep
{
    std::shared_ptr<QPromise<void>> promise;

    QFuture<void> begin()
    {
        promise = std::make_shared<QPromise<void>>();
        promise->start();
        return promise->future();
    }
    void finish() { promise->finish(); }
};

class FakeBackend final : public UpdaterBackend
{
public:
    int starts = 0;
    int checks = 0;
    bool automatic = false;
    bool initial = true;
    std::function<void(bool)> report;

    void start() override { ++starts; }
    void checkForUpdates() override { ++checks; }
    void observeCanCheckForUpdates(std::function<void(bool)> handler) override
    {
        report = handler;
        report(initial);
    }
    bool automaticallyChecksForUpdates() const override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool on) override { automatic = on; }
};

} // namespace

class TestShellServices : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_shellservices"));
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_settings = std::make_unique<QSettings>(m_dir->filePath(QStringLiteral("settings.ini")),
                                                 QSettings::IniFormat);
    }

    void cleanup()
    {
        m_settings.reset();
        m_dir.reset();
    }

    // --- start-up order ---------------------------------------------------

    void startupAwaitsEachStepInOrder()
    {
        QStringList log;
        ControlledStep load, refresh, sync;
        StartupSequence sequence({
            [&] { return log << "load", load.begin(); },
            [&] { log << "start-sync"; },
            [&] { return log << "refresh", refresh.begin(); },
            [&] { return log << "sync", sync.begin(); },
        });
        QSignalSpy finished(&sequence, &StartupSequence::finished);
        sequence.start();
        sequence.start(); // a second start does not run the steps again
        QCOMPARE(log, QStringList({"load"}));
        QCoreApplication::processEvents();
        QCOMPARE(log, QStringList({"load"})); // nothing before the load is over

        load.finish();
        QTRY_COMPARE(log, QStringList({"load", "start-sync", "refresh"}));
        refresh.finish();
        QTRY_COMPARE(log, QStringList({"load", "start-sync", "refresh", "sync"}));
        QVERIFY(!sequence.isFinished());
        sync.finish();
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(sequence.isFinished());
    }

    void startupGoesOnAfterAFailedStep()
    {
        QStringList log;
        StartupSequence sequence({
            [&] {
                log << "load";
                QPromise<void> promise;
                promise.start();
                promise.setException(std::make_exception_ptr(std::runtime_error("disk")));
                promise.finish();
                return promise.future();
            },
            [&] { log << "start-sync"; },
            [&] { return log << "refresh", QFuture<void>(); }, // gives nothing to wait for
            [&] { return log << "sync", QtFuture::makeReadyFuture(); },
        });
        QSignalSpy finished(&sequence, &StartupSequence::finished);
        sequence.start();
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(log, QStringList({"load", "start-sync", "refresh", "sync"}));
    }

    void startupStopsWhenTheWindowGoesAway()
    {
        QStringList log;
        ControlledStep load;
        auto sequence = std::make_unique<StartupSequence>(StartupSequence::Steps{
            [&] { return load.begin(); },
            [&] { log << "start-sync"; },
            {},
            {},
        });
        sequence->start();
        sequence.reset();
        load.finish();
        QCoreApplication::processEvents();
        QVERIFY(log.isEmpty());
    }

    void startupWithTheRealStoreAndSignedOutServices()
    {
        DocumentStore store(m_dir->filePath(QStringLiteral("store")), m_settings.get());
        APIClient client(QUrl(QStringLiteral("http://127.0.0.1:9")));
        AuthManager auth({&client, Keychain(Keychain::inMemory()), &store, m_settings.get(), {}});
        SyncEngine engine(SyncEngine::Dependencies{&store, &auth, &client, nullptr, {}});
        QSignalSpy status(&engine, &SyncEngine::statusChanged);
        StartupSequence sequence({
            [&] { return store.load(); },
            [&] { engine.start(); },
            [&] { return auth.refreshSession(true); },
            [&] { return engine.sync(); },
        });
        QSignalSpy finished(&sequence, &StartupSequence::finished);
        sequence.start();
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(store.isLoaded());
        QCOMPARE(store.documents().size(), 1); // the welcome document
        QCOMPARE(engine.status(), SyncEngine::Status::makeSignedOut());
        QCOMPARE(status.size(), 0); // signed out from the start: no change to report
        QVERIFY(!auth.token());
        QCOMPARE(auth.lastRefresh().toMSecsSinceEpoch(), 0); // no check without a session
        // The engine wired itself to the store: a local change schedules a sync.
        QVERIFY(!engine.isSyncScheduled());
        store.createDocument(std::nullopt, QStringLiteral("typed"));
        QVERIFY(engine.isSyncScheduled());
        store.flushPendingSaves();
    }

    // Equal statuses are not reported again; offline compares its message, synced its time.
    void syncStatusEquality_data()
    {
        using S = SyncEngine::Status;
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(1000, Qt::UTC);
        QTest::addColumn<S>("a");
        QTest::addColumn<S>("b");
        QTest::addColumn<bool>("equal");
        QTest::newRow("offline, same message") << S::makeOffline("x") << S::makeOffline("x") << true;
        QTest::newRow("offline, other message") << S::makeOffline("x") << S::makeOffline("y") << false;
        QTest::newRow("synced, same time") << S::makeSynced(t) << S::makeSynced(t) << true;
        QTest::newRow("synced, other time") << S::makeSynced(t) << S::makeSynced(t.addMSecs(1)) << false;
        QTest::newRow("different cases") << S::makeSyncing() << S::makeSignedOut() << false;
    }

    void syncStatusEquality()
    {
        QFETCH(SyncEngine::Status, a);
        QFETCH(SyncEngine::Status, b);
        QFETCH(bool, equal);
        QCOMPARE(a == b, equal);
    }

    // --- updater -----------------------------------------------------------

    void updaterConfiguration_data()
    {
        QTest::addColumn<QVariant>("key");
        QTest::addColumn<bool>("configured");
        QTest::newRow("no entry") << QVariant() << false;
        QTest::newRow("empty string") << QVariant(QString()) << false;
        QTest::newRow("not a string") << QVariant(42) << false;
        QTest::newRow("placeholder") << QVariant("REPLACE_WITH_YOUR_KEY") << false;
        QTest::newRow("placeholder prefix is case-sensitive") << QVariant("replace_with_key") << true;
        QTest::newRow("placeholder later in the key") << QVariant("abcREPLACE_WITH") << true;
        QTest::newRow("real key") << QVariant("pfYk3PZ2Vq+key=") << true;
    }

    void updaterConfiguration()
    {
        QFETCH(QVariant, key);
        QFETCH(bool, configured);
        int made = 0;
        FakeBackend *backend = nullptr;
        UpdaterController updater(key, [&] {
            ++made;
            auto fake = std::make_unique<FakeBackend>();
            backend = fake.get();
            return fake;
        });
        QCOMPARE(updater.isConfigured(), configured);
        QCOMPARE(made, configured ? 1 : 0);
        QCOMPARE(updater.hasBackend(), configured);
        if (configured) {
            QCOMPARE(backend->starts, 1);
            QTRY_VERIFY(updater.canCheckForUpdates());
        } else {
            QCoreApplication::processEvents();
            QVERIFY(!updater.canCheckForUpdates());
            updater.checkForUpdates();
            updater.setAutomaticallyChecksForUpdates(true);
            QVERIFY(!updater.automaticallyChecksForUpdates());
        }
    }

    void updaterRepublishesTheFlagOnlyWhenItChanges()
    {
        FakeBackend *backend = nullptr;
        UpdaterController updater(QVariant("key"), [&] {
            auto fake = std::make_unique<FakeBackend>();
            fake->initial = false;
            backend = fake.get();
            return fake;
        });
        QSignalSpy spy(&updater, &UpdaterController::canCheckForUpdatesChanged);
        QCoreApplication::processEvents();
        QCOMPARE(spy.size(), 0); // initial false equals the starting value
        backend->report(true);
        backend->report(true);
        QTRY_COMPARE(spy.size(), 1);
        QVERIFY(updater.canCheckForUpdates());

        // Reports from another thread land on the controller's thread.
        QThread *thread = QThread::create([backend] { backend->report(false); });
        thread->start();
        thread->wait();
        delete thread;
        QTRY_COMPARE(spy.size(), 2);
        QVERIFY(!updater.canCheckForUpdates());

        updater.checkForUpdates();
        QCOMPARE(backend->checks, 1);
        updater.setAutomaticallyChecksForUpdates(true);
        QVERIFY(updater.automaticallyChecksForUpdates());
    }
};

QTEST_GUILESS_MAIN(TestShellServices)
#include "tst_shellservices.moc"
