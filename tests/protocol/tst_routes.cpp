#include "protocol/Routes.h"
#include "protocol/Rules.h"

#include <QTest>

using namespace Qt::StringLiterals;
using protocol::Endpoint;

class TestRoutes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requestsFindTheirRoute_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("endpoint"); // -1: none
        QTest::addColumn<bool>("pathKnown");
        QTest::addColumn<QString>("parameter");
        const auto row = [](const char *name, const char *method, const QString &path, int endpoint,
                            bool known, const QString &parameter = QString()) {
            QTest::newRow(name) << QByteArray(method) << path << endpoint << known << parameter;
        };
        row("home", "GET", u"/"_s, int(Endpoint::home), true);
        row("pull", "GET", u"/api/v1/documents/sync"_s, int(Endpoint::pull), true);
        row("push", "POST", u"/api/v1/documents/sync"_s, int(Endpoint::push), true);
        row("sync with another method", "PUT", u"/api/v1/documents/sync"_s, -1, true);
        row("update", "PUT", u"/api/v1/published/my-post"_s, int(Endpoint::updatePublication), true,
            u"my-post"_s);
        row("unpublish", "DELETE", u"/api/v1/published/my-post"_s, int(Endpoint::unpublish), true,
            u"my-post"_s);
        row("published without a slug", "DELETE", u"/api/v1/published/"_s, -1, false);
        row("slug with a slash", "PUT", u"/api/v1/published/a/b"_s, -1, false);
        row("public page", "GET", u"/p/my-post/"_s, int(Endpoint::publicPage), true, u"my-post"_s);
        row("public page without slash", "GET", u"/p/my-post"_s, int(Endpoint::publicPageWithoutSlash), true,
            u"my-post"_s);
        row("public page, deeper", "GET", u"/p/a/b/"_s, -1, false);
        row("image", "GET", u"/media/0123"_s, int(Endpoint::image), true, u"0123"_s);
        row("image path escape", "GET", u"/media/../../etc/passwd"_s, -1, false);
        row("sign-in form", "POST", u"/api/v1/auth/native-signin"_s, int(Endpoint::signInForm), true);
        row("lower-case method", "get", u"/api/v1/me"_s, -1, true);
        row("unknown", "GET", u"/api/v2/me"_s, -1, false);
        row("trailing slash is another path", "GET", u"/api/v1/me/"_s, -1, false);
    }

    void requestsFindTheirRoute()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, endpoint);
        QFETCH(bool, pathKnown);
        QFETCH(QString, parameter);
        const protocol::RouteMatch match = protocol::matchRoute(method, path);
        QCOMPARE(match.route ? int(match.route->endpoint) : -1, endpoint);
        QCOMPARE(match.pathKnown, pathKnown);
        QCOMPARE(match.parameter, parameter);
    }

    // Large bodies go only to routes behind a session; the upload limit
    // leaves room for the largest image the app sends.
    void bodyLimits()
    {
        for (const protocol::Route &route : protocol::routes()) {
            if (!route.needsSession)
                QCOMPARE(route.bodyLimit, protocol::smallBodyLimit);
            // Each route's own path finds it.
            const QString path = protocol::routePath(route.endpoint, u"x"_s);
            QCOMPARE(protocol::matchRoute(route.method, path).route, &route);
        }
        const qint64 upload = protocol::bodyLimit("POST", u"/api/v1/images");
        QVERIFY(upload > protocol::images::maxBytes);
        QVERIFY(upload <= protocol::images::maxBytes + 64 * protocol::kibibyte);
        QCOMPARE(protocol::bodyLimit("GET", u"/api/v1/images"), protocol::smallBodyLimit);
        QCOMPARE(protocol::bodyLimit("POST", u"/nowhere"), protocol::smallBodyLimit);
    }
};

QTEST_GUILESS_MAIN(TestRoutes)
#include "tst_routes.moc"
