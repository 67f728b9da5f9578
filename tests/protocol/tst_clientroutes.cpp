#include "protocol/Routes.h"

#include "assistant/core/AIAssistant.h"
#include "assistant/core/AIRequest.h"
#include "publishing/core/ImageLibrary.h"
#include "publishing/core/PublishService.h"
#include "service/SyncClient.h"

#include "TestHooks.h"

#include <QSet>
#include <QSignalSpy>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace tessivo::server;
using protocol::Endpoint;

// Every request the app's own components send, to a real service, finds its
// route in the table, carries a session exactly when the route needs one,
// and together they reach every route the app is meant to call.
class TestClientRoutes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theAppsRequestsWalkTheTable()
    {
        ServerOptions options;
        options.listen = {{QHostAddress::LocalHost, 0}};
        options.database = u"sqlite::memory:"_s;
        options.passwordIterations = 1000;
        Server server(options);
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        TestHooks hooks = server.hooks();
        const Account account = hooks.registerUser(u"ann@example.com"_s, u"Ann"_s);

        SyncClient computer(server.baseUrl(), QString());
        // Sign in as the browser would hand the app back its one-time token.
        AuthManager *auth = computer.auth.get();
        auth->setPlatform({[&](const QUrl &) {
                               const QString ott = hooks.mintOneTimeToken(account.userId);
                               QTimer::singleShot(0, auth, [auth, ott] {
                                   auth->handleCallbackURL(QUrl(u"tessivo://auth?ott="_s + ott));
                               });
                               return true;
                           },
                           [] {}});
        QVERIFY(auth->signIn(AuthManager::Provider::github).isValid());
        QTRY_VERIFY(auth->token().has_value());
        const auto wait = [](auto future) {
            return QTest::qWaitFor([&] { return future.isFinished(); }, TestWaits::limitMs);
        };
        QVERIFY(wait(computer.auth->refreshSession(true)));

        const Document document = computer.store->createDocument(std::nullopt, u"# Post\n\nText"_s);
        QVERIFY(computer.syncOnce());

        PublishService publishing(&computer.api, computer.store.get());
        QVERIFY(wait(publishing.publish(document, u"my-post"_s)));
        QVERIFY(wait(publishing.update(document, u"my-post"_s)));
        QVERIFY(wait(publishing.unpublish(document.id, u"my-post"_s)));

        ImageLibrary images(&computer.api);
        QVERIFY(wait(images.load(true)));
        QVERIFY(wait(images.upload("GIF89a", u"a.gif"_s, u"image/gif"_s, document.id)));

        AIAssistant assistant(AIAssistant::overClient(&computer.api));
        AIStream *stream = assistant.stream(AIRequest::generate(u"Write"_s, {}, {}), this);
        QSignalSpy ended(stream, &AIStream::failed); // no AI server behind this service
        QTRY_COMPARE(ended.size(), 1);

        QVERIFY(wait(computer.auth->signOut(false)));

        QSet<Endpoint> reached;
        for (const LoggedRequest &request : hooks.requestLog()) {
            const protocol::RouteMatch match = protocol::matchRoute(request.method, request.path);
            QVERIFY2(match.route, qPrintable(request.method + ' ' + request.path));
            QCOMPARE(!request.header("authorization").isEmpty(), match.route->needsSession);
            reached.insert(match.route->endpoint);
        }
        QSet<Endpoint> expected{Endpoint::verifyOneTimeToken};
        for (const protocol::Route &route : protocol::routes()) {
            if (route.needsSession)
                expected.insert(route.endpoint);
        }
        QCOMPARE(reached, expected);
    }
};

QTEST_GUILESS_MAIN(TestClientRoutes)
#include "tst_clientroutes.moc"
