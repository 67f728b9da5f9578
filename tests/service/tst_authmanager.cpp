#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "store/DocumentStore.h"

#include "service/FakeKeyring.h"
#include "service/LocalServer.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace tessivo::server;
Q_DECLARE_METATYPE(tessivo::server::ScriptedReply)

class TestAuthManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<Server> m_server;
    Account m_ada;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DocumentStore> m_store;
    std::unique_ptr<APIClient> m_client;
    std::unique_ptr<FakeKeyring> m_keyring;
    QNetworkAccessManager m_browser;
    // The fake browser follows the service's redirects to the "tessivo" URL,
    // or lands at once on this callback (an empty URL: never comes back).
    std::optional<QUrl> m_callback;
    bool m_browserOpens = true;
    int m_broughtToFront = 0;

    TestHooks hooks() { return m_server->hooks(); }
    std::optional<QString> stored() { return m_keyring->item(); }

    // Signed in or out as the keyring says, once it has answered.
    std::unique_ptr<AuthManager> makeAuth()
    {
        auto auth = std::make_unique<AuthManager>(AuthManager::Dependencies{
            m_client.get(), Keychain(m_keyring->backend()), m_store.get(), m_settings.get(), {}});
        if (!QTest::qWaitFor([&] { return !auth->isReading(); }, TestWaits::limitMs))
            qFatal("the keyring's read didn't end");
        AuthManager *target = auth.get();
        const auto open = [this, target](const QUrl &url) {
            if (m_callback)
                QTimer::singleShot(0, target, [=, this] { target->handleCallbackURL(*m_callback); });
            else
                browse(url, target);
            return m_browserOpens;
        };
        auth->setPlatform({open, [this] { ++m_broughtToFront; }});
        return auth;
    }

    void browse(const QUrl &url, AuthManager *auth)
    {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply *reply = m_browser.get(request);
        connect(reply, &QNetworkReply::finished, auth, [=, this] {
            reply->deleteLater();
            const QUrl next = url.resolved(reply->header(QNetworkRequest::LocationHeader).toUrl());
            if (next.scheme() == u"tessivo")
                auth->handleCallbackURL(next);
            else if (next != url)
                browse(next, auth);
        });
    }

    static bool wait(const QFuture<void> &future)
    {
        return QTest::qWaitFor([&] { return future.isFinished(); }, TestWaits::limitMs);
    }

    bool signIn(AuthManager &auth, SignInOutcome outcome = SignInOutcome::SignIn, const QString &user = {})
    {
        hooks().setNextSignInOutcome(outcome, user.isEmpty() ? m_ada.userId : user);
        return wait(auth.signIn(AuthManager::Provider::github));
    }

    int requests(const QString &path)
    {
        const QList<LoggedRequest> log = hooks().requestLog();
        return int(std::count_if(log.cbegin(), log.cend(), [&](const auto &r) { return r.path == path; }));
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
        m_client = std::make_unique<APIClient>(m_server->baseUrl());
        m_keyring = std::make_unique<FakeKeyring>();
        m_callback.reset();
        m_browserOpens = true;
        m_broughtToFront = 0;
        hooks().clearRequestLog();
    }

    void cleanup() { m_store.reset(); }

    // Every way a browser sign-in ends, and what the account views show.
    void signInOutcomes_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("callback"); // empty: the service's own redirect
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, SignInOutcome outcome, const char *callback,
                            const char *error) {
            QTest::newRow(name) << int(outcome) << QString(callback) << QString(error);
        };
        using O = SignInOutcome;
        row("signed in", O::SignIn, "", "");
        row("declined", O::AccessDenied, "", "Sign-in was declined by the provider.");
        row("link expired", O::SessionMissing, "", "The sign-in link expired. Please try again.");
        row("server failed", O::InternalError, "", "The server couldn't complete sign-in. Please try again.");
        row("callback says cancelled: silent", O::Cancelled, "", "");
        row("no query", O::SignIn, "tessivo://auth", "Sign-in didn't return to the app.");
        row("empty ott, error", O::SignIn, "tessivo://a?ott=&error=session_missing",
            "The sign-in link expired. Please try again.");
        row("first ott empty: later ones ignored", O::SignIn, "tessivo://a?ott=&ott=x",
            "Sign-in failed (unknown).");
        row("unknown code", O::SignIn, "tessivo://x/y?error=weird%20one", "Sign-in failed (weird one).");
        row("error with an empty value", O::SignIn, "tessivo://a?error=", "Sign-in failed ().");
        row("error without a value", O::SignIn, "tessivo://a?error", "Sign-in failed (unknown).");
        row("provider", O::SignIn, "tessivo://a?error=invalid_provider",
            "That sign-in provider isn't available.");
        row("bogus one-time token: the exchange's 401", O::SignIn, "tessivo://a?ott=bogus",
            "This sign-in link has expired or was already used.");
    }

    void signInOutcomes()
    {
        QFETCH(int, outcome);
        QFETCH(QString, callback);
        QFETCH(QString, error);
        if (!callback.isEmpty())
            m_callback = QUrl(callback);
        const bool succeeds = outcome == int(SignInOutcome::SignIn) && error.isEmpty();
        auto auth = makeAuth();
        QSignalSpy signedIn(auth.get(), &AuthManager::signedIn);
        QVERIFY(signIn(*auth, SignInOutcome(outcome)));
        QCOMPARE(auth->lastError().value_or(QString()), error);
        QVERIFY(!auth->isSigningIn());
        QCOMPARE(m_broughtToFront, 1);
        QCOMPARE(auth->isSignedIn(), succeeds);
        QCOMPARE(signedIn.size(), int(succeeds));
        QTRY_COMPARE(stored(), auth->token());
        if (succeeds) {
            QCOMPARE(auth->user()->email, u"ada@example.com"_s);
            QCOMPARE(auth->siteURL(), QUrl(u"http://ada.127.0.0.1:%1/"_s.arg(m_server->port())));
            QVERIFY(wait(auth->refreshSession(false))); // the sign-in counts as a check
            QCOMPARE(requests(u"/api/auth/get-session"_s), 0);
        }
    }

    void signInThatCannotFinish()
    {
        auto auth = makeAuth();
        m_browserOpens = false;
        QVERIFY(wait(auth->signIn(AuthManager::Provider::google)));
        QCOMPARE(auth->lastError(), u"Couldn't open the sign-in window."_s);
        QCOMPARE(m_broughtToFront, 0);

        // The user closed the browser tab: Cancel ends the wait silently.
        m_browserOpens = true;
        m_callback = QUrl();
        const QFuture<void> waiting = auth->signIn(AuthManager::Provider::google);
        QVERIFY(auth->isWaitingForCallback());
        QCOMPARE(auth->lastError(), std::nullopt);
        QVERIFY(wait(auth->signIn(AuthManager::Provider::github))); // ignored while one runs
        auth->cancelSignIn();
        QVERIFY(waiting.isFinished() && !auth->isSigningIn());
        QCOMPARE(auth->lastError(), std::nullopt);
        QCOMPARE(m_broughtToFront, 1);

        m_callback.reset();
        hooks().forceReply("POST", u"/api/auth/one-time-token/verify"_s, 1, {200, "{}", {}});
        QVERIFY(signIn(*auth));
        QCOMPARE(auth->lastError(), u"Sign-in completed but no session token arrived. Try again."_s);
        QVERIFY(!auth->isSignedIn());
    }

    // Any page can open a "tessivo:" URL: only the callback of a waiting
    // sign-in counts, once, and only with that scheme.
    void forgedCallbacksAreIgnored()
    {
        auto auth = makeAuth();
        const QUrl valid(u"tessivo://auth?ott="_s + hooks().mintOneTimeToken(m_ada.userId));
        QVERIFY(!auth->handleCallbackURL(valid));
        m_callback = QUrl();
        const QFuture<void> waiting = auth->signIn(AuthManager::Provider::github);
        QVERIFY(!auth->handleCallbackURL(QUrl(u"https://evil.example/?ott=x"_s)));
        QVERIFY(auth->handleCallbackURL(valid));
        QVERIFY(!auth->handleCallbackURL(valid));
        QVERIFY(wait(waiting));
        QVERIFY(auth->isSignedIn());
        QCOMPARE(requests(u"/api/auth/one-time-token/verify"_s), 1);
    }

    // The rolled token is adopted whatever the status, before the status is
    // judged; 401, "unauthorized" or a "null" session sign out locally.
    void sessionChecks_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<bool>("keeps");
        QTest::addColumn<QString>("error");
        const QString session = u"/api/auth/get-session"_s, me = u"/api/v1/me"_s;
        QTest::newRow("session 401") << session << ScriptedReply{401, {}, {}} << false << "";
        QTest::newRow("session null") << session << ScriptedReply{200, "null", {}} << false << "";
        QTest::newRow("session 5-byte null") << session << ScriptedReply{200, "null\n", {}} << true << "";
        QTest::newRow("session 500") << session << ScriptedReply{500, {}, {}} << true
                                     << "Request failed (500).";
        QTest::newRow("me unauthorized 403")
            << me << ScriptedReply{403, R"({"error":{"code":"unauthorized"}})", {}} << false << "";
        QTest::newRow("me undecodable") << me << ScriptedReply{200, "{}", {}} << true
                                        << "The service's reply couldn't be read (key 'user' is missing).";
    }

    void sessionChecks()
    {
        QFETCH(QString, path);
        QFETCH(ScriptedReply, reply);
        QFETCH(bool, keeps);
        QFETCH(QString, error);
        m_keyring->put(m_ada.sessionToken);
        const QString rolled = hooks().issueSessionToken(m_ada.userId);
        reply.headers.append({"set-auth-token", rolled.toUtf8()});
        hooks().forceReply("GET", path, 1, reply);
        auto auth = makeAuth();
        QVERIFY(wait(auth->refreshSession(true)));
        QCOMPARE(auth->token(), keeps ? std::optional(rolled) : std::nullopt);
        QTRY_COMPARE(stored(), auth->token());
        QCOMPARE(auth->lastError().value_or(QString()), error);
        QCOMPARE(requests(u"/api/auth/sign-out"_s), 0);
    }

    // A token that cannot go back into a header as it came is not adopted:
    // not from a roll (the session keeps its token, in memory and in the
    // keyring) and not from the sign-in exchange (no token arrived).
    void malformedTokensAreNotAdopted_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("adopted");
        QTest::newRow("control bytes") << QByteArray("\xff\xfe\x00junk", 7) << false;
        QTest::newRow("a space") << QByteArray("half token") << false;
        QTest::newRow("too long") << QByteArray(4097, 'a') << false;
        QTest::newRow("longest") << QByteArray(4096, 'a') << true;
        QTest::newRow("visible ASCII") << QByteArray("!~aZ09-._") << true;
    }

    void malformedTokensAreNotAdopted()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, adopted);
        m_keyring->put(m_ada.sessionToken);
        auto auth = makeAuth();
        const QByteArray me = R"({"user":{"id":"u","email":"e","name":"n"}})";
        hooks().forceReply("GET", u"/api/v1/me"_s, 1, {200, me, {{"set-auth-token", value}}});
        QVERIFY(wait(auth->refreshMe()));
        const QString expected = adopted ? QString::fromLatin1(value) : m_ada.sessionToken;
        QCOMPARE(auth->token(), expected);
        QTRY_COMPARE(stored(), expected);
        hooks().clearRequestLog();
        QVERIFY(wait(auth->refreshSession(true)));
        QCOMPARE(hooks().requestLog().value(0).header("authorization"), "Bearer " + expected.toLatin1());
        if (adopted)
            return;

        QVERIFY(wait(auth->signOut(true)));
        hooks().forceReply("POST", u"/api/auth/one-time-token/verify"_s, 1,
                           {200, "{}", {{"set-auth-token", value}}});
        QVERIFY(signIn(*auth));
        QCOMPARE(auth->lastError(), u"Sign-in completed but no session token arrived. Try again."_s);
        QVERIFY(!auth->isSignedIn());
        QCOMPARE(stored(), std::nullopt);
    }

    // A reply in flight at sign-out doesn't sign the user back in.
    void lateRepliesAfterSignOutAreDropped()
    {
        m_keyring->put(m_ada.sessionToken);
        auto auth = makeAuth();
        const QByteArray rolled = hooks().issueSessionToken(m_ada.userId).toUtf8();
        const QByteArray me = R"({"user":{"id":"u","email":"e","name":"n"}})";
        hooks().forceReply("GET", u"/api/v1/me"_s, 1, {200, me, {{"set-auth-token", rolled}}});
        hooks().setLatency(u"/api/v1/me"_s, 200);
        const QFuture<void> refresh = auth->refreshMe();
        QVERIFY(wait(auth->signOut(false)));
        QVERIFY(wait(refresh));
        hooks().setLatency(u"/api/v1/me"_s, 0);
        QVERIFY(!auth->isSignedIn() && !auth->user());
        QTRY_COMPARE(stored(), std::nullopt);
    }

    // Another account pulls everything again; sign-out and the dirty lists
    // keep their own.
    void anotherAccountResetsTheSyncCursor()
    {
        const Account bob = hooks().registerUser(u"bob@example.com"_s, u"Bob"_s);
        auto auth = makeAuth();
        QVERIFY(signIn(*auth));
        m_store->advanceSyncCursor(500);
        const Document typed = m_store->createDocument(std::nullopt, u"mine"_s);
        QVERIFY(wait(auth->refreshMe()));
        QVERIFY(wait(auth->signOut(false)));
        QCOMPARE(m_store->state().syncCursor, 500);
        QVERIFY(signIn(*auth, SignInOutcome::SignIn, bob.userId));
        QCOMPARE(auth->user()->id, bob.userId);
        QCOMPARE(m_store->state().syncCursor, 0);
        QCOMPARE(m_store->state().dirtyDocumentIDs, QStringList{typed.id});
        QCOMPARE(m_settings->value("syncCursorUserID").toString(), bob.userId);

        // A cursor already at 0 is reset all the same: a pass begun under
        // Bob must not move Cleo's cursor, so the epoch rises.
        const Account cleo = hooks().registerUser(u"cleo@example.com"_s, u"Cleo"_s);
        QVERIFY(wait(auth->signOut(false)));
        const quint64 epoch = m_store->syncCursorEpoch();
        QVERIFY(signIn(*auth, SignInOutcome::SignIn, cleo.userId));
        QCOMPARE(m_store->state().syncCursor, 0);
        QVERIFY(m_store->syncCursorEpoch() > epoch);
    }

    // The handle becomes part of a host name, so only a host label does.
    void siteURLNeedsAHostLabel()
    {
        m_keyring->put(m_ada.sessionToken);
        auto auth = makeAuth();
        for (const QString &handle : {u"ada-2"_s, u"evil.example.com/x"_s, u"x@evil"_s, u"a_b"_s}) {
            const QJsonObject body{{"user", QJsonObject{{"id", "u"}, {"email", "e"}, {"name", "n"}}},
                                   {"site", QJsonObject{{"handle", handle}}}};
            hooks().forceReply("GET", u"/api/v1/me"_s, 1, {200, QJsonDocument(body).toJson(), {}});
            QVERIFY(wait(auth->refreshMe()));
            QCOMPARE(auth->site()->handle, handle);
            QCOMPARE(auth->siteURL().has_value(), handle == u"ada-2");
        }
    }
};

QTEST_GUILESS_MAIN(TestAuthManager)
#include "tst_authmanager.moc"
