#include "ServiceFixture.h"

using namespace servicetest;
using namespace Qt::StringLiterals;

namespace {
// Follows redirects the way a browser does, stopping at the app's URL.
Response browse(Fixture &f, const QByteArray &method, const QString &path, const QByteArray &form,
                QUrl *appUrl)
{
    Response r = f.call(method, path, {}, form, {{"content-type", "application/x-www-form-urlencoded"}});
    for (int hops = 0; hops < 5 && r.status >= 301 && r.status <= 303; ++hops) {
        const QUrl next = f.url("/").resolved(QUrl(QString::fromUtf8(r.header("location"))));
        if (next.scheme() == QLatin1String("tessivo")) {
            *appUrl = next;
            return r;
        }
        r = f.call("GET", next.path() + (next.hasQuery() ? "?" + next.query(QUrl::FullyEncoded) : QString()));
    }
    return r;
}

QString queryItem(const QUrl &url, const QString &name)
{
    return QUrlQuery(url).queryItemValue(name);
}
} // namespace

class tst_ServiceSignIn : public QObject
{
    Q_OBJECT

private slots:
    void signUpThenSignInReachTheApp()
    {
        Fixture f;
        START_SERVICE(f);
        QUrl app;
        const Response page = browse(f, "GET", "/api/v1/auth/native-signin?provider=github", {}, &app);
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("action=\"/api/v1/auth/native-signin\""));

        browse(
            f, "POST", "/api/v1/auth/native-signin",
            "provider=github&mode=signup&name=Ann+Lee&email=ann%40example.com&password=secret+123&handle=ann",
            &app);
        QCOMPARE(app.scheme(), QStringLiteral("tessivo"));
        const QString ott = queryItem(app, "ott");
        QVERIFY(!ott.isEmpty());
        const Response verified = f.post("/api/auth/one-time-token/verify", {}, {{"token", ott}});
        const QString session = QString::fromLatin1(verified.header("set-auth-token"));
        const QJsonObject me = f.call("GET", "/api/v1/me", session).json();
        QCOMPARE(me["user"].toObject()["name"].toString(), QStringLiteral("Ann Lee"));
        QCOMPARE(me["site"].toObject()["handle"].toString(), QStringLiteral("ann"));

        app.clear();
        browse(f, "POST", "/api/v1/auth/native-signin",
               "provider=google&mode=signin&email=ann%40example.com&password=secret+123", &app);
        QVERIFY(!queryItem(app, "ott").isEmpty());

        app.clear();
        const Response wrong =
            browse(f, "POST", "/api/v1/auth/native-signin",
                   "provider=google&mode=signin&email=ann%40example.com&password=nope", &app);
        QCOMPARE(wrong.status, 401);
        QVERIFY(app.isEmpty());
        QVERIFY(wrong.body.contains("wrong"));
    }

    void badFormsShowTheFormAgain_data()
    {
        QTest::addColumn<QByteArray>("form");
        QTest::addColumn<QByteArray>("message");
        const QByteArray base = "provider=github&mode=signup&name=Bo&password=longenough&";
        QTest::newRow("e-mail taken") << base + "email=taken%40example.com" << QByteArray("already exists");
        QTest::newRow("handle taken")
            << base + "email=b%40example.com&handle=taken" << QByteArray("handle is taken");
        QTest::newRow("handle not a host label")
            << base + "email=b%40example.com&handle=-bo-" << QByteArray("site handle");
        QTest::newRow("handle with a dot")
            << base + "email=b%40example.com&handle=a.b" << QByteArray("site handle");
        QTest::newRow("short password")
            << QByteArray("provider=github&mode=signup&name=Bo&email=b%40example.com&password=short")
            << QByteArray("8 characters");
    }

    void badFormsShowTheFormAgain()
    {
        QFETCH(QByteArray, form);
        QFETCH(QByteArray, message);
        Fixture f;
        START_SERVICE(f);
        f.hooks().registerUser("taken@example.com", "Taken", "pw", "taken");
        QUrl app;
        const Response r = browse(f, "POST", "/api/v1/auth/native-signin", form, &app);
        QCOMPARE(r.status, 400);
        QVERIFY(app.isEmpty());
        QVERIFY2(r.body.contains(message), r.body.constData());
    }

    // An unknown provider and a test outcome go straight back to the app;
    // the outcome is spent by one visit.
    void testOutcomesRedirectAtOnce()
    {
        Fixture f;
        START_SERVICE(f);
        QUrl app;
        browse(f, "GET", "/api/v1/auth/native-signin?provider=gitlab", {}, &app);
        QCOMPARE(queryItem(app, "error"), QStringLiteral("invalid_provider"));
        f.hooks().setNextSignInOutcome(SignInOutcome::AccessDenied,
                                       f.hooks().registerUser("a@b.c", "A").userId);
        browse(f, "GET", "/api/v1/auth/native-signin?provider=github", {}, &app);
        QCOMPARE(queryItem(app, "error"), QStringLiteral("access_denied"));
        QCOMPARE(f.call("GET", "/api/v1/auth/native-signin?provider=github").status, 200);
    }
};

QTEST_GUILESS_MAIN(tst_ServiceSignIn)
#include "tst_servicesignin.moc"
