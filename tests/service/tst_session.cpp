// The session against a keyring that answers late, never, or (when the
// session bus has one) the real Secret Service.
#include "TestNeeds.h"
#include "service/core/APIClient.h"
#include "service/core/APIStream.h"
#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"
#include "store/DocumentStore.h"
#include "store/ManualSaveClock.h"

#include "service/FakeKeyring.h"
#include "service/LocalServer.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

class TestSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<Server> m_server;
    Account m_ada;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DocumentStore> m_store;
    std::unique_ptr<APIClient> m_client;
    std::unique_ptr<FakeKeyring> m_keyring;
    std::unique_ptr<ManualSaveClock> m_clock;
    QDateTime m_now = QDateTime::currentDateTimeUtc();

    TestHooks hooks() { return m_server->hooks(); }

    std::unique_ptr<AuthManager> makeAuth(Keychain keychain)
    {
        return std::make_unique<AuthManager>(
            AuthManager::Dependencies{m_client.get(), std::move(keychain), m_store.get(), m_settings.get(),
                                      [this] { return m_now; }, m_clock.get()});
    }
    std::unique_ptr<AuthManager> makeAuth() { return makeAuth(Keychain(m_keyring->backend())); }

    std::unique_ptr<SyncEngine> makeEngine(AuthManager *auth)
    {
        return std::make_unique<SyncEngine>(
            SyncEngine::Dependencies{m_store.get(), auth, m_client.get(), new ManualSaveClock, {}});
    }

    int requests(const QString &path)
    {
        const QList<LoggedRequest> log = hooks().requestLog();
        return int(std::count_if(log.cbegin(), log.cend(), [&](const auto &r) { return r.path == path; }));
    }

    static bool wait(const QFuture<void> &future)
    {
        return QTest::qWaitFor([&] { return future.isFinished(); }, TestWaits::limitMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = startLocalServer();
        m_ada = hooks().registerUser(u"ada@example.com"_s, u"Ada"_s, u"password"_s, u"ada"_s);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_settings = std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
        m_store = std::make_unique<DocumentStore>(m_dir->filePath(u"store"_s), m_settings.get());
        QVERIFY(wait(m_store->load()));
        m_client = std::make_unique<APIClient>(m_server->baseUrl());
        m_keyring = std::make_unique<FakeKeyring>();
        m_keyring->answers = FakeKeyring::Answers::held;
        m_clock = std::make_unique<ManualSaveClock>();
        hooks().clearRequestLog();
    }

    void cleanup() { m_store.reset(); }

    // While the keyring reads, syncs and session checks wait and then run
    // once; the status shown is not touched meanwhile.
    void callsWaitForTheRead_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::newRow("a session in the keyring") << true;
        QTest::newRow("none") << false;
    }

    void callsWaitForTheRead()
    {
        QFETCH(bool, stored);
        if (stored)
            m_keyring->put(m_ada.sessionToken);
        auto auth = makeAuth();
        auto engine = makeEngine(auth.get());
        QSignalSpy status(engine.get(), &SyncEngine::statusChanged);
        QVERIFY(auth->isReading() && !auth->isSignedIn());
        const QFuture<void> check = auth->refreshSession(false);
        const QFuture<void> forced = auth->refreshSession(true);
        const QFuture<void> first = engine->sync();
        const QFuture<void> second = engine->sync();
        QTest::qWait(50);
        QVERIFY(!check.isFinished() && !first.isFinished());
        QCOMPARE(status.size(), 0);
        QCOMPARE(hooks().requestLog().size(), 0);

        m_keyring->release();
        QVERIFY(!auth->isReading());
        QCOMPARE(auth->isSignedIn(), stored);
        for (const QFuture<void> &f : {check, forced, first, second})
            QVERIFY(wait(f));
        QCOMPARE(requests(u"/api/auth/get-session"_s), int(stored));
        QCOMPARE(requests(u"/api/v1/documents/sync"_s) > 0, stored);
        QCOMPARE(engine->status().kind, stored ? SyncEngine::Status::synced : SyncEngine::Status::signedOut);
    }

    // Sign-in or sign-out during the read decides; the read's late answer
    // is ignored.
    void aDecisionDuringTheReadStands()
    {
        m_keyring->put(u"stale"_s);
        auto auth = makeAuth();
        QSignalSpy restored(auth.get(), &AuthManager::sessionRestored);
        auth->signOut(true);
        QVERIFY(!auth->isReading());
        m_keyring->release(); // the read, then the delete
        QCOMPARE(auth->token(), std::nullopt);
        QCOMPARE(m_keyring->item(), std::nullopt);
        QCOMPARE(restored.size(), 0);
    }

    // After five seconds without an answer the app goes on signed out; an
    // answer after that is still taken when nothing else set the token.
    void aSlowKeyringCountsAsSignedOutUntilItAnswers()
    {
        m_keyring->put(m_ada.sessionToken);
        auto auth = makeAuth();
        auto engine = makeEngine(auth.get());
        QSignalSpy restored(auth.get(), &AuthManager::sessionRestored);
        const QFuture<void> sync = engine->sync();
        m_clock->advance(Session::readTimeoutMs - 1);
        QVERIFY(auth->isReading());
        m_clock->advance(1);
        QVERIFY(!auth->isReading() && !auth->isSignedIn());
        QVERIFY(wait(sync));
        QCOMPARE(engine->status().kind, SyncEngine::Status::signedOut);

        m_keyring->release();
        QCOMPARE(auth->token(), m_ada.sessionToken);
        QCOMPARE(restored.size(), 1);
        QTRY_COMPARE(engine->status().kind, SyncEngine::Status::synced);
        QTRY_COMPARE(requests(u"/api/auth/get-session"_s), 1);
    }

    // What the keyring holds may have been put there by anything: a value
    // that cannot be a session token is never sent, counts as none and is
    // deleted.
    void aJunkTokenInTheKeyringIsNone_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("a space") << u"two words"_s;
        QTest::newRow("a line break") << u"token\r\nx-injected: 1"_s;
        QTest::newRow("not ASCII") << u"t\u00f6ken"_s;
        QTest::newRow("too long") << QString(4097, u'a');
        QTest::newRow("empty") << QString();
    }

    void aJunkTokenInTheKeyringIsNone()
    {
        QFETCH(QString, stored);
        m_keyring->put(stored);
        auto auth = makeAuth();
        m_keyring->release(); // the read, which queues the delete
        QVERIFY(!auth->isReading());
        QVERIFY(!auth->isSignedIn());
        QCOMPARE(m_keyring->writesStarted(), 1);
        m_keyring->release();
        QCOMPARE(m_keyring->item(), std::nullopt);
        QVERIFY(wait(auth->refreshSession(true)));
        QCOMPARE(hooks().requestLog().size(), 0);
    }

    // A sign-out whose delete the keyring never carries out (it waits on its
    // unlock prompt until the app has quit), or that the app quits before
    // the service has answered, still holds: the next start is signed out
    // and deletes the token then. A later sign-in is kept again.
    void aSignOutHoldsWhenTheKeyringNeverDeletes_data()
    {
        QTest::addColumn<bool>("askTheService");
        QTest::newRow("the service had ended the session") << false;
        QTest::newRow("Sign Out, quit before the service answered") << true;
    }

    void aSignOutHoldsWhenTheKeyringNeverDeletes()
    {
        QFETCH(bool, askTheService);
        // A session of its own: the service ends it, and the other tests
        // go on with theirs.
        const QString token = hooks().issueSessionToken(m_ada.userId);
        m_keyring->put(token);
        auto auth = makeAuth();
        m_keyring->release();
        QCOMPARE(auth->token(), token);
        m_keyring->answers = FakeKeyring::Answers::never;
        if (askTheService) {
            hooks().holdRequests("POST", u"/api/auth/sign-out"_s, 1);
            auth->signOut(false);
            QTRY_COMPARE(requests(u"/api/auth/sign-out"_s), 1);
        } else {
            auth->signOut(true);
        }
        auth.reset(); // quit
        m_settings.reset();
        if (askTheService)
            QVERIFY(hooks().releaseHeldRequest());
        QCOMPARE(m_keyring->item(), token);

        m_keyring->answers = FakeKeyring::Answers::held;
        m_settings = std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
        auth = makeAuth();
        m_keyring->release(); // the read, which queues the delete
        QVERIFY(!auth->isReading());
        QVERIFY(!auth->isSignedIn());
        m_keyring->release();
        QCOMPARE(m_keyring->item(), std::nullopt);

        const QString next = hooks().issueSessionToken(m_ada.userId);
        auth->session()->begin(next);
        m_keyring->release();
        auth.reset();
        auth = makeAuth();
        m_keyring->release();
        QCOMPARE(auth->token(), next);
    }

    // Signed in as T0 last time; this start the keyring does not answer, so
    // after five seconds the app goes on signed out; the user signs in (T1)
    // and out, and quits before the keyring has carried out anything, or
    // after it has come back. The next start is signed out whatever the
    // keyring kept, and sends neither token.
    void aSignOutHoldsForATokenASlowKeyringNeverShowed_data()
    {
        QTest::addColumn<int>("keyringBack");
        QTest::newRow("after the quit, nothing carried out") << 0;
        QTest::newRow("after the quit, the sign-in's save carried out") << 1;
        QTest::newRow("before the quit: the late read, then the writes") << 2;
    }

    void aSignOutHoldsForATokenASlowKeyringNeverShowed()
    {
        QFETCH(int, keyringBack);
        const QString t0 = hooks().issueSessionToken(m_ada.userId);
        const QString t1 = hooks().issueSessionToken(m_ada.userId);
        m_keyring->put(t0);
        if (keyringBack < 2)
            m_keyring->answers = FakeKeyring::Answers::never;
        auto auth = makeAuth();
        QSignalSpy restored(auth.get(), &AuthManager::sessionRestored);
        m_clock->advance(Session::readTimeoutMs);
        QVERIFY(!auth->isReading() && !auth->isSignedIn());
        auth->session()->begin(t1);
        QVERIFY(wait(auth->signOut(false)));
        if (keyringBack == 2) {
            m_keyring->release(); // the read, the save, the delete
            QVERIFY(!auth->isSignedIn());
            QCOMPARE(restored.size(), 0);
        }
        auth.reset(); // quit
        m_settings.reset();
        if (keyringBack == 1)
            m_keyring->put(t1);

        m_keyring->answers = FakeKeyring::Answers::held;
        m_settings = std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
        hooks().clearRequestLog();
        auth = makeAuth();
        auto engine = makeEngine(auth.get());
        const QFuture<void> check = auth->refreshSession(true);
        const QFuture<void> sync = engine->sync();
        m_keyring->release(); // the read, and any delete it queues
        m_keyring->release();
        QVERIFY(!auth->isSignedIn());
        QCOMPARE(m_keyring->item(), std::nullopt);
        QVERIFY(wait(check) && wait(sync));
        QCOMPARE(hooks().requestLog().size(), 0);
    }

    // A sign-out that an earlier version noted (by the tokens it ended) and
    // the keyring never carried out still holds.
    void aSignOutNotedByAnEarlierVersionHolds()
    {
        m_settings->setValue(u"session/endedTokenDigests"_s, QStringList{u"0123abcd"_s});
        m_keyring->put(m_ada.sessionToken);
        auto auth = makeAuth();
        m_keyring->release(); // the read, which queues the delete
        m_keyring->release();
        QVERIFY(!auth->isSignedIn());
        QCOMPARE(m_keyring->item(), std::nullopt);
    }

    // The keyring's writes run one at a time, in the order asked: the item
    // ends as last asked, whatever each job takes.
    void keyringWritesKeepTheirOrder()
    {
        auto auth = makeAuth();
        m_keyring->release(); // nothing stored
        Session *session = auth->session();
        session->begin(u"first"_s);
        session->begin(u"second"_s);
        QCOMPARE(m_keyring->heldJobs(), 1); // one job at a time
        m_keyring->release();
        QCOMPARE(m_keyring->item(), u"second"_s);

        session->begin(u"third"_s);
        session->end();
        QCOMPARE(m_keyring->writesStarted(), 3);
        m_keyring->release();
        QCOMPARE(m_keyring->item(), std::nullopt);
        QCOMPARE(m_keyring->writesStarted(), 4);
    }

    // A rolled token is the session at once: the next request carries it
    // while the keyring is still writing.
    void aRolledTokenIsUsedBeforeTheKeyringHasIt()
    {
        m_keyring->put(m_ada.sessionToken);
        auto auth = makeAuth();
        m_keyring->release();
        m_keyring->answers = FakeKeyring::Answers::never;
        const QString rolled = hooks().issueSessionToken(m_ada.userId);
        hooks().forceReply(
            "GET", u"/api/v1/me"_s, 1,
            {200, R"({"user":{"id":"u","email":"e","name":"n"}})", {{"set-auth-token", rolled.toUtf8()}}});
        QVERIFY(wait(auth->refreshMe()));
        QCOMPARE(auth->token(), rolled);
        QCOMPARE(m_keyring->item(), m_ada.sessionToken);
        hooks().clearRequestLog();
        QVERIFY(wait(auth->refreshSession(true)));
        QCOMPARE(hooks().requestLog().value(0).header("authorization"), "Bearer " + rolled.toUtf8());
    }

    // Only the session check, the account refresh and a sync end the
    // session on a 401; the image list and an AI reply show their error,
    // and the AI panel's account refresh then decides (here the service
    // still knows the session, so it stays).
    void onlyTheSessionsOwnCallersEndItOn401_data()
    {
        QTest::addColumn<QString>("caller");
        QTest::addColumn<bool>("ends");
        QTest::newRow("image list") << u"images"_s << false;
        QTest::newRow("AI reply, then the account refresh") << u"ai"_s << false;
        QTest::newRow("session check") << u"session"_s << true;
        QTest::newRow("account refresh") << u"me"_s << true;
        QTest::newRow("sync") << u"sync"_s << true;
    }

    void onlyTheSessionsOwnCallersEndItOn401()
    {
        QFETCH(QString, caller);
        QFETCH(bool, ends);
        m_keyring->put(m_ada.sessionToken);
        auto auth = makeAuth();
        auto engine = makeEngine(auth.get());
        m_keyring->release();
        QSignalSpy signedOut(auth.get(), &AuthManager::signedOut);
        const QByteArray unauthorized =
            R"({"error":{"code":"unauthorized","message":"Sign in to continue."}})";
        if (caller == u"images") {
            hooks().forceReply("GET", u"/api/images"_s, 1, {401, unauthorized, {}});
            const auto call =
                m_client->perform(m_client->makeRequest(m_client->url(u"/api/images"_s), "application/json"),
                                  APIClient::Method::Get);
            QTRY_VERIFY(call.future().isFinished());
            QCOMPARE(call.future().result().failure().userText(), u"Sign in to continue."_s);
        } else if (caller == u"ai") {
            hooks().forceReply("POST", u"/api/ai"_s, 1, {401, unauthorized, {}});
            std::unique_ptr<APIStream> stream(m_client->stream(APIClient::Method::Post, u"/api/ai"_s,
                                                               QByteArray("{}"), "application/json"));
            QTRY_VERIFY(stream->isOver());
            QVERIFY(auth->isSignedIn());
            QVERIFY(wait(auth->refreshMe()));
            QCOMPARE(requests(u"/api/v1/me"_s), 1);
        } else if (caller == u"session") {
            hooks().forceReply("GET", u"/api/auth/get-session"_s, 1, {401, {}, {}});
            QVERIFY(wait(auth->refreshSession(true)));
        } else if (caller == u"me") {
            hooks().forceReply("GET", u"/api/v1/me"_s, 1, {401, unauthorized, {}});
            QVERIFY(wait(auth->refreshMe()));
        } else {
            hooks().forceReply("GET", u"/api/v1/documents/sync"_s, 1, {401, unauthorized, {}});
            QVERIFY(wait(engine->sync()));
            QCOMPARE(engine->status().kind, SyncEngine::Status::signedOut);
        }
        QCOMPARE(signedOut.size(), int(ends));
        QCOMPARE(auth->isSignedIn(), !ends);
        QCOMPARE(auth->lastError(), std::nullopt);
        QCOMPARE(requests(u"/api/auth/sign-out"_s), 0);
        m_keyring->release();
        QCOMPARE(m_keyring->item().has_value(), !ends);
    }

    // A pass given up for a newer edit puts back the status it found only
    // for the session it began with: after a sign-out during it, the user
    // is shown signed out, not synced.
    void aPassGivenUpPutsBackOnlyItsSessionsStatus_data()
    {
        QTest::addColumn<bool>("signOut");
        QTest::newRow("same session") << false;
        QTest::newRow("signed out during the pass") << true;
    }

    void aPassGivenUpPutsBackOnlyItsSessionsStatus()
    {
        QFETCH(bool, signOut);
        m_keyring->put(m_ada.sessionToken);
        auto auth = makeAuth();
        m_keyring->release();
        ManualSaveClock debounce;
        SyncEngine engine({m_store.get(), auth.get(), m_client.get(), &debounce, {}});
        QVERIFY(wait(engine.sync()));
        QCOMPARE(engine.status().kind, SyncEngine::Status::synced);
        engine.scheduleSync();
        debounce.advance(SyncEngine::debounceMs);
        QVERIFY(engine.isRunning());
        if (signOut)
            auth->signOut(true);
        engine.scheduleSync(); // a new edit gives the pass up
        QTRY_VERIFY(!engine.isRunning());
        QCOMPARE(engine.status().kind, signOut ? SyncEngine::Status::signedOut : SyncEngine::Status::synced);
    }

    // The unforced check runs a moment after its interval, not a second.
    void theIntervalIsCountedInMilliseconds_data()
    {
        QTest::addColumn<qint64>("afterMs");
        QTest::addColumn<bool>("runs");
        QTest::newRow("at the interval") << AuthManager::refreshIntervalMs << false;
        QTest::newRow("half a second after") << AuthManager::refreshIntervalMs + 500 << true;
    }

    void theIntervalIsCountedInMilliseconds()
    {
        QFETCH(qint64, afterMs);
        QFETCH(bool, runs);
        m_keyring->put(m_ada.sessionToken);
        auto auth = makeAuth();
        m_keyring->release();
        QVERIFY(wait(auth->refreshSession(true)));
        m_now = m_now.addMSecs(afterMs);
        hooks().clearRequestLog();
        QVERIFY(wait(auth->refreshSession(false)));
        QCOMPARE(requests(u"/api/auth/get-session"_s), int(runs));
    }

    // The real keyring: saving a rolled token while a streamed reply comes
    // in leaves the reply whole.
    void aStreamThatRollsTheTokenKeepsItsBody()
    {
        TESSIVO_NEED(TestNeeds::unlockedKeyring());
        const QString first = hooks().issueSessionToken(m_ada.userId);
        auto auth = makeAuth(Keychain(Keychain::secretService()));
        auth->session()->begin(first);
        const QString rolled = hooks().issueSessionToken(m_ada.userId);
        const QByteArray body(64 * 1024, 'x');
        hooks().forceReply("POST", u"/api/ai"_s, 1, {200, body, {{"set-auth-token", rolled.toUtf8()}}});
        std::unique_ptr<APIStream> stream(
            m_client->stream(APIClient::Method::Post, u"/api/ai"_s, QByteArray("{}"), "application/json"));
        QByteArray received;
        QStringList events;
        connect(stream.get(), &APIStream::responseReceived, this, [&] { events << u"head"_s; });
        connect(stream.get(), &APIStream::received, this,
                [&](const QByteArray &bytes) { received += bytes; });
        connect(stream.get(), &APIStream::finished, this, [&] { events << u"finished"_s; });
        connect(stream.get(), &APIStream::failed, this, [&] { events << u"failed"_s; });
        QTRY_VERIFY(stream->isOver());
        QCOMPARE(events, QStringList({"head", "finished"}));
        QCOMPARE(received, body);
        QCOMPARE(auth->token(), rolled);
        auth->session()->end();
        QObject context;
        std::optional<QString> left = u"not read"_s;
        // Asks again after each answer until the keyring says it is gone.
        std::function<void()> ask = [&] {
            Keychain(Keychain::secretService())
                .read(u"session-token"_s, &context, [&](const std::optional<QString> &v) {
                    left = v;
                    if (left)
                        ask();
                });
        };
        ask();
        QTRY_VERIFY(!left);
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
