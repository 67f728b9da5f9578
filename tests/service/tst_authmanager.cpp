#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "store/DocumentStore.h"

#include "Server.h"

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

namespace {

bool wait(const QFuture<void> &future)
{
    return QTest::qWaitFor([&] { return future.isFinished(); }, 10'000);
}

} // namespace

class TestAuthManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<Server> m_server;
    Account m_ada;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<APIClient> m_client;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DocumentStore> m_store;
    Keychain::Backend m_keyring;
    QNetworkAccessManager m_browserNet;
    // The fake browser: follows the service's redirects to the "tessivo"
    // URL, or, when set, lands on this callback at once.
    std::optional<QUrl> m_callback;
    bool m_browserOpens = true;
    int m_broughtToFront = 0;

    TestHooks hooks() { return m_server->hooks(); }

    std::unique_ptr<AuthManager> makeAuth(Keychain::Backend keyring)
    {
        auto auth = std::make_unique<AuthManager>(AuthManager::Dependencies{
            m_client.get(), Keychain(std::move(keyring)), m_store.get(), m_settings.get(), {}});
        AuthManager *target = auth.get();
        auth->setPlatform({[this, target](const QUrl &url) {
                               if (m_callback)
                                   QTimer::singleShot(0, target,
                                                      [=, this] { target->handleCallbackURL(*m_callback); });
                               else
                                   browse(url, target);
                               return m_browserOpens;
                           },
                           [this] { ++m_broughtToFront; }});
        return auth;
    }
    std::unique_ptr<AuthManager> makeAuth() { return makeAuth(m_keyring); }

    void browse(const QUrl &url, AuthManager *auth)
    {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply *reply = m_browserNet.get(request);
        connect(reply, &QNetworkReply::finished, auth, [=, this] {
            reply->deleteLater();
            const QUrl next = url.resolved(reply->header(QNetworkRequest::LocationHeader).toUrl());
            if (next.scheme() == u"tessivo")
                auth->handleCallbackURL(next);
            else if (next != url)
                browse(next, auth);
        });
    }

    // A sign-in to its end, through the fake browser.
    void signIn(AuthManager &auth, SignInOutcome outcome = SignInOutcome::SignIn, const QString &user = {})
    {
        hooks().setNextSignInOutcome(outcome, user.isEmpty() ? m_ada.userId : user);
        QVERIFY(wait(auth.signIn(AuthManager::Provider::github)));
    }

    int requests(const QString &path)
    {
        int n = 0;
        for (const LoggedRequest &request : hooks().requestLog())
            n += request.path == path;
        return n;
    }

private Q_SLOTS:
    void initTestCase()
    {
        ServerOptions options;
        options.listen = {{QHostAddress::LocalHost, 0}};
        options.database = u"sqlite::memory:"_s;
        m_server = std::make_unique<Server>(options);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_ada = hooks().registerUser(u"ada@example.com"_s, u"Ada"_s, u"password"_s, u"ada"_s);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        Persistence::setBaseDirectoryOverride(m_dir->filePath(u"store"_s));
        m_settings = std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
        m_store = std::make_unique<DocumentStore>(m_settings.get());
        m_client = std::make_unique<APIClient>(m_server->baseUrl());
        m_keyring = Keychain::inMemory();
        m_callback.reset();
        m_browserOpens = true;
        m_broughtToFront = 0;
        hooks().clearRequestLog();
    }

    void cleanup()
    {
        m_store.reset();
        Persistence::setBaseDirectoryOverride(QString());
    }

    // Every way a browser sign-in ends, with what the account views show.
    void signInOutcomes_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("callback"); // empty: the service's own redirect
        QTest::addColumn<QString>("error");    // empty: none
        QTest::addColumn<bool>("signedIn");
        const int in = int(SignInOutcome::SignIn);
        QTest::newRow("signed in") << in << ""
                                   << "" << true;
        QTest::newRow("declined") << int(SignInOutcome::AccessDenied) << ""
                                  << "Sign-in was declined by the provider." << false;
        QTest::newRow("link expired") << int(SignInOutcome::SessionMissing) << ""
                                      << "The sign-in link expired. Please try again." << false;
        QTest::newRow("server failed") << int(SignInOutcome::InternalError) << ""
                                       << "The server couldn't complete sign-in. Please try again." << false;
        QTest::newRow("callback says cancelled: silent") << int(SignInOutcome::Cancelled) << ""
                                                         << "" << false;
        QTest::newRow("no query") << in << "tessivo://auth"
                                  << "Sign-in didn't return to the app." << false;
        QTest::newRow("empty query") << in << "tessivo://auth?"
                                     << "Sign-in failed (unknown)." << false;
        QTest::newRow("empty ott, error") << in << "tessivo://auth?ott=&error=session_missing"
                                          << "The sign-in link expired. Please try again." << false;
        QTest::newRow("first ott empty: later ones ignored") << in << "tessivo://auth?ott=&ott=x"
                                                             << "Sign-in failed (unknown)." << false;
        QTest::newRow("unknown code") << in << "tessivo://x/y?error=weird%20one"
                                      << "Sign-in failed (weird one)." << false;
        QTest::newRow("provider") << in << "tessivo://auth?error=invalid_provider"
                                  << "That sign-in provider isn't available." << false;
        QTest::newRow("used or bogus one-time token: the exchange's 401")
            << in << "tessivo://auth?ott=bogus"
            << "This sign-in link has expired or was already used." << false;
    }

    void signInOutcomes()
    {
        QFETCH(int, outcome);
        QFETCH(QString, callback);
        QFETCH(QString, error);
        QFETCH(bool, signedIn);
        if (!callback.isEmpty())
            m_callback = QUrl(callback);
        auto auth = makeAuth();
        QSignalSpy signedInSpy(auth.get(), &AuthManager::signedIn);
        signIn(*auth, SignInOutcome(outcome));
        QCOMPARE(auth->lastError().value_or(QString()), error);
        QCOMPARE(auth->isSigningIn(), false);
        QCOMPARE(m_broughtToFront, 1);
        QCOMPARE(auth->isSignedIn(), signedIn);
        QCOMPARE(signedInSpy.size(), int(signedIn));
        QCOMPARE(Keychain(m_keyring).read(u"session-token"_s), auth->token());
        if (signedIn) {
            QCOMPARE(auth->user()->email, u"ada@example.com"_s);
            QCOMPARE(auth->siteURL(), QUrl(u"http://ada.127.0.0.1:%1/"_s.arg(m_server->port())));
            QVERIFY(auth->lastRefresh().secsTo(QDateTime::currentDateTimeUtc()) < 60);
            QVERIFY(wait(auth->refreshSession(false))); // within 900 s of the sign-in: nothing sent
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

        // The browser tab was closed: Cancel ends the wait silently.
        m_browserOpens = true;
        m_callback = QUrl(); // the browser never comes back
        const QFuture<void> waiting = auth->signIn(AuthManager::Provider::google);
        QVERIFY(auth->isWaitingForCallback());
        QCOMPARE(auth->lastError(), std::nullopt);
        QVERIFY(wait(auth->signIn(AuthManager::Provider::github))); // ignored while one runs
        auth->cancelSignIn();
        QVERIFY(waiting.isFinished());
        QVERIFY(!auth->isSigningIn());
        QCOMPARE(auth->lastError(), std::nullopt);
        QCOMPARE(m_broughtToFront, 1);

        // A 200 exchange without a session token.
        hooks().forceReply("POST", u"/api/auth/one-time-token/verify"_s, 1, {200, "{}", {}});
        signIn(*auth);
        QCOMPARE(auth->lastError(), u"Sign-in completed but no session token arrived. Try again."_s);
        QVERIFY(!auth->isSignedIn());
    }

    // Only a callback the app is waiting for counts, once, and only "tessivo".
    void forgedCallbacksAreIgnored()
    {
        auto auth = makeAuth();
        const QUrl valid(u"tessivo://auth?ott="_s + hooks().mintOneTimeToken(m_ada.userId));
        QVERIFY(!auth->handleCallbackURL(valid)); // nobody asked
        m_callback = QUrl();
        const QFuture<void> waiting = auth->signIn(AuthManager::Provider::github);
        QVERIFY(!auth->handleCallbackURL(QUrl(u"https://evil.example/?ott=x"_s)));
        QVERIFY(auth->isWaitingForCallback());
        QVERIFY(auth->handleCallbackURL(valid));
        QVERIFY(!auth->handleCallbackURL(valid)); // once
        QVERIFY(wait(waiting));
        QVERIFY(auth->isSignedIn());
        QCOMPARE(requests(u"/api/auth/one-time-token/verify"_s), 1);
    }

    // A rolled token is adopted whatever the status, before the status is
    // judged; 401 or "unauthorized" at any step signs out locally.
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
        QTest::newRow("me 401") << me << ScriptedReply{401, {}, {}} << false << "";
        QTest::newRow("me unauthorized 403")
            << me << ScriptedReply{403, R"({"error":{"code":"unauthorized","message":"x"}})", {}} << false
            << "";
        QTest::newRow("me undecodable") << me << ScriptedReply{200, "{}", {}} << true
                                        << "The service's reply couldn't be read (key 'user' is missing).";
    }

    void sessionChecks()
    {
        QFETCH(QString, path);
        QFETCH(ScriptedReply, reply);
        QFETCH(bool, keeps);
        QFETCH(QString, error);
        Keychain(m_keyring).save(m_ada.sessionToken, u"session-token"_s);
        const QString rolled = hooks().issueSessionToken(m_ada.userId);
        reply.headers.append({"set-auth-token", rolled.toUtf8()});
        hooks().forceReply("GET", path, 1, reply);
        auto auth = makeAuth();
        QVERIFY(wait(auth->refreshSession(true)));
        QCOMPARE(auth->isSignedIn(), keeps);
        QCOMPARE(auth->token(), keeps ? std::optional(rolled) : std::nullopt);
        QCOMPARE(Keychain(m_keyring).read(u"session-token"_s), auth->token());
        QCOMPARE(auth->lastError().value_or(QString()), error);
        QCOMPARE(requests(u"/api/auth/sign-out"_s), 0);
    }

    // A reply in flight at sign-out doesn't sign the user back in.
    void lateRepliesAfterSignOutAreDropped()
    {
        Keychain(m_keyring).save(m_ada.sessionToken, u"session-token"_s);
        auto auth = makeAuth();
        const QString rolled = hooks().issueSessionToken(m_ada.userId);
        hooks().forceReply(
            "GET", u"/api/v1/me"_s, 1,
            {200, R"({"user":{"id":"u","email":"e","name":"n"}})", {{"set-auth-token", rolled.toUtf8()}}});
        hooks().setLatency(u"/api/v1/me"_s, 200);
        const QFuture<void> refresh = auth->refreshMe();
        QVERIFY(wait(auth->signOut(false)));
        QVERIFY(wait(refresh));
        hooks().setLatency(u"/api/v1/me"_s, 0);
        QVERIFY(!auth->isSignedIn());
        QVERIFY(!auth->user());
        QCOMPARE(Keychain(m_keyring).read(u"session-token"_s), std::nullopt);
        QVERIFY(!makeAuth()->isSignedIn()); // and after a restart
    }

    // Another account's sign-in pulls everything again; the dirty lists stay.
    void anotherAccountResetsTheSyncCursor()
    {
        const Account bob = hooks().registerUser(u"bob@example.com"_s, u"Bob"_s);
        auto auth = makeAuth();
        signIn(*auth);
        m_store->advanceSyncCursor(500);
        const Document typed = m_store->createDocument(std::nullopt, u"mine"_s);
        QVERIFY(wait(auth->refreshMe())); // the same account: the cursor stays
        QCOMPARE(m_store->state().syncCursor, 500);
        QVERIFY(wait(auth->signOut(false)));
        QCOMPARE(m_store->state().syncCursor, 500); // sign-out alone touches nothing
        signIn(*auth, SignInOutcome::SignIn, bob.userId);
        QCOMPARE(auth->user()->id, bob.userId);
        QCOMPARE(m_store->state().syncCursor, 0);
        QCOMPARE(m_store->state().dirtyDocumentIDs, QStringList{typed.id});
        QCOMPARE(m_settings->value("syncCursorUserID").toString(), bob.userId);
    }

    void siteURLNeedsAHostLabel_data()
    {
        QTest::addColumn<QString>("handle");
        QTest::addColumn<bool>("valid");
        QTest::newRow("label") << "ada-2" << true;
        QTest::newRow("dots") << "evil.example.com/x" << false;
        QTest::newRow("underscore") << "a_b" << false;
        QTest::newRow("leading hyphen") << "-a" << false;
        QTest::newRow("user info") << "x@evil" << false;
    }

    void siteURLNeedsAHostLabel()
    {
        QFETCH(QString, handle);
        QFETCH(bool, valid);
        Keychain(m_keyring).save(m_ada.sessionToken, u"session-token"_s);
        const QJsonObject body{{"user", QJsonObject{{"id", "u"}, {"email", "e"}, {"name", "n"}}},
                               {"site", QJsonObject{{"handle", handle}}}};
        hooks().forceReply("GET", u"/api/v1/me"_s, 1, {200, QJsonDocument(body).toJson(), {}});
        auto auth = makeAuth();
        QVERIFY(wait(auth->refreshMe()));
        QCOMPARE(auth->site()->handle, handle);
        QCOMPARE(auth->siteURL().has_value(), valid);
    }

    // The desktop's Secret Service (a private gnome-keyring in CI): the
    // session survives a restart and sign-out removes it.
    void sessionSurvivesARestartInTheKeyring()
    {
        Keychain probe(Keychain::secretService());
        probe.save(u"probe"_s, u"tessivo-test-probe"_s);
        const bool reachable = probe.read(u"tessivo-test-probe"_s) == u"probe"_s;
        probe.remove(u"tessivo-test-probe"_s);
        if (!reachable)
            QSKIP("no Secret Service on this session bus");
        auto first = makeAuth(Keychain::secretService());
        signIn(*first);
        const std::optional<QString> token = first->token();
        QVERIFY(token);
        first.reset();
        auto second = makeAuth(Keychain::secretService());
        QCOMPARE(second->token(), token);
        QVERIFY(wait(second->signOut(false)));
        QVERIFY(!makeAuth(Keychain::secretService())->isSignedIn());
    }
};

QTEST_GUILESS_MAIN(TestAuthManager)
#include "tst_authmanager.moc"
