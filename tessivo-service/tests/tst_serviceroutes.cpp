#include "ServiceFixture.h"

#include <QJsonArray>
#include <QRegularExpression>

using namespace servicetest;

namespace {
QJsonObject doc(const QString &id, qint64 updatedAt, const QString &body = QStringLiteral("text"))
{
    return {{"id", id}, {"title", id}, {"body", body}, {"createdAt", 1}, {"updatedAt", updatedAt}};
}

QJsonObject pushBody(const QJsonArray &docs, const QJsonArray &collections = {})
{
    return {{"docs", docs}, {"collections", collections}};
}

QJsonArray pulled(Fixture &f, const QString &token, qint64 since, const char *key = "documents")
{
    const Response r = f.call("GET", QStringLiteral("/api/v1/documents/sync?since=%1").arg(since), token);
    return r.json().value(QLatin1String(key)).toArray();
}

QStringList statuses(const QJsonArray &results)
{
    QStringList out;
    for (const QJsonValue &r : results)
        out << r[QLatin1String("status")].toString();
    return out;
}
} // namespace

class tst_ServiceRoutes : public QObject
{
    Q_OBJECT

private slots:
    void authenticatedRoutesRefuseBadTokens_data();
    void authenticatedRoutesRefuseBadTokens();
    void oneTimeTokensSessionsAndSignOut();
    void sessionsRollWithAGracePeriod();
    void pushMergesByUpdatedAtWithIncreasingStamps();
    void recordsComeBackVerbatim();
    void invalidRecordsAreRejectedAlone_data();
    void invalidRecordsAreRejectedAlone();
    void malformedBodiesGiveAnErrorObject_data();
    void malformedBodiesGiveAnErrorObject();
    void usersOnlySeeTheirOwnData();
    void publishingLifecycle();
    void blogAndUserSiteListTheirCollections();
    void imageUploadListAndBytes();
    void hooksForceRepliesAndLogRequests();
};

void tst_ServiceRoutes::authenticatedRoutesRefuseBadTokens_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    const QList<QPair<QByteArray, QString>> routes = {
        {"GET", "/api/auth/get-session"},
        {"POST", "/api/auth/sign-out"},
        {"GET", "/api/v1/me"},
        {"GET", "/api/v1/documents/sync?since=0"},
        {"POST", "/api/v1/documents/sync"},
        {"POST", "/api/v1/published"},
        {"PUT", "/api/v1/published/my-post"},
        {"DELETE", "/api/v1/published/my-post"},
        {"GET", "/api/images"},
        {"POST", "/api/v1/images"},
        {"POST", "/api/ai"},
    };
    for (const auto &[method, path] : routes)
        QTest::addRow("%s %s", method.constData(), qPrintable(path)) << method << path;
}

void tst_ServiceRoutes::authenticatedRoutesRefuseBadTokens()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    Fixture f;
    START_SERVICE(f);
    const Account revoked = f.server->hooks().registerUser("r@example.com", "R");
    f.server->hooks().revokeSessionToken(revoked.sessionToken);
    for (const QString &token : {QString(), QStringLiteral("not-a-token"), revoked.sessionToken}) {
        const Response r = f.call(method, path, token, "{}");
        QCOMPARE(r.status, 401);
        QCOMPARE(r.json()["error"][QLatin1String("code")].toString(), QStringLiteral("unauthorized"));
    }
}

void tst_ServiceRoutes::oneTimeTokensSessionsAndSignOut()
{
    Fixture f;
    START_SERVICE(f);
    qint64 clock = 1'000'000;
    f.server->hooks().setClock([&] { return clock; });
    const Account ann = f.server->hooks().registerUser("ann@example.com", "Ann");

    const QString ott = f.server->hooks().mintOneTimeToken(ann.userId);
    const Response first = f.post("/api/auth/one-time-token/verify", {}, {{"token", ott}});
    QCOMPARE(first.status, 200);
    const QString session = QString::fromLatin1(first.header("set-auth-token"));
    QVERIFY(!session.isEmpty());
    QCOMPARE(f.call("GET", "/api/v1/me", session).json()["user"][QLatin1String("id")].toString(), ann.userId);
    QVERIFY(f.call("GET", "/api/auth/get-session", session).body != "null");
    QCOMPARE(f.call("POST", "/api/auth/sign-out", session).status, 200);
    QCOMPARE(f.call("GET", "/api/auth/get-session", session).status, 401);
    QCOMPARE(f.call("GET", "/api/v1/me", ann.sessionToken).status, 200);

    const Response again = f.post("/api/auth/one-time-token/verify", {}, {{"token", ott}});
    QCOMPARE(again.status, 401);
    QVERIFY(again.json()["error"].isObject());
    QVERIFY(!again.header("set-auth-token").size());

    const QString late = f.server->hooks().mintOneTimeToken(ann.userId);
    clock += 6 * 60 * 1000;
    QCOMPARE(f.post("/api/auth/one-time-token/verify", {}, {{"token", late}}).status, 401);
}

void tst_ServiceRoutes::sessionsRollWithAGracePeriod()
{
    Fixture f;
    ServerOptions options;
    options.sessionRollAfterMs = 1000;
    options.sessionGraceMs = 500;
    START_SERVICE(f, options);
    qint64 clock = 1'000'000;
    f.server->hooks().setClock([&] { return clock; });
    const Account ann = f.server->hooks().registerUser("ann@example.com", "Ann");

    QVERIFY(f.call("GET", "/api/v1/me", ann.sessionToken).header("set-auth-token").isEmpty());
    clock += 1000;
    const Response rolled = f.call("GET", "/api/v1/me", ann.sessionToken);
    const QString next = QString::fromLatin1(rolled.header("set-auth-token"));
    QVERIFY(!next.isEmpty());
    QCOMPARE(f.call("GET", "/api/v1/me", next).status, 200);
    QCOMPARE(f.call("GET", "/api/v1/me", ann.sessionToken).status, 200); // grace
    QVERIFY(f.call("GET", "/api/v1/me", ann.sessionToken).header("set-auth-token").isEmpty());
    clock += 500;
    QCOMPARE(f.call("GET", "/api/v1/me", ann.sessionToken).status, 401);
    QCOMPARE(f.call("GET", "/api/v1/me", next).status, 200);
}

void tst_ServiceRoutes::pushMergesByUpdatedAtWithIncreasingStamps()
{
    Fixture f;
    START_SERVICE(f);
    // A frozen clock: stamps must still increase.
    f.server->hooks().setClock([] { return qint64(5000); });
    const QString t = f.server->hooks().registerUser("ann@example.com", "Ann").sessionToken;

    const QJsonArray collection = {
        QJsonObject{{"id", "c"}, {"name", "C"}, {"createdAt", 1}, {"updatedAt", 1}}};
    Response r = f.post("/api/v1/documents/sync", t, pushBody({doc("a", 10), doc("b", 10)}, collection));
    QCOMPARE(statuses(r.json()["results"].toArray()), QStringList({"ok", "ok"}));
    QCOMPARE(statuses(r.json()["collectionResults"].toArray()), QStringList({"ok"}));
    QJsonArray all = pulled(f, t, 0);
    QCOMPARE(all.size(), 2);
    const qint64 stampA = all[0][QLatin1String("serverUpdatedAt")].toInteger(),
                 stampB = all[1][QLatin1String("serverUpdatedAt")].toInteger();
    const qint64 stampC = pulled(f, t, 0, "collections")[0][QLatin1String("serverUpdatedAt")].toInteger();
    QVERIFY(stampA >= 5000 && stampB > stampA && stampC > stampB);

    // Older loses and is re-stamped; equal or newer wins.
    r = f.post("/api/v1/documents/sync", t, pushBody({doc("a", 9, "old"), doc("b", 10, "same time")}));
    QCOMPARE(statuses(r.json()["results"].toArray()), QStringList({"stale", "ok"}));
    const QJsonArray changed = pulled(f, t, stampC);
    QCOMPARE(changed.size(), 2);
    QCOMPARE(changed[0][QLatin1String("body")].toString(), QStringLiteral("text"));
    QCOMPARE(changed[1][QLatin1String("body")].toString(), QStringLiteral("same time"));
    QVERIFY(changed[0][QLatin1String("serverUpdatedAt")].toInteger() > stampC);
    QVERIFY(changed[1][QLatin1String("serverUpdatedAt")].toInteger() >
            changed[0][QLatin1String("serverUpdatedAt")].toInteger());
    QVERIFY(pulled(f, t, changed[1][QLatin1String("serverUpdatedAt")].toInteger()).isEmpty());

    // Tombstones are kept and returned.
    QJsonObject tombstone = doc("a", 20);
    tombstone["deletedAt"] = 20;
    f.post("/api/v1/documents/sync", t, pushBody({tombstone}));
    QCOMPARE(pulled(f, t, 0).last()["deletedAt"].toInteger(), 20);
}

void tst_ServiceRoutes::recordsComeBackVerbatim()
{
    Fixture f;
    START_SERVICE(f);
    const QString t = f.server->hooks().registerUser("ann@example.com", "Ann").sessionToken;
    QJsonObject document = doc("d", 3);
    document["frontmatter"] = QJsonObject{{"tags", QJsonArray{"a", 1, QJsonObject{{"x", QJsonValue::Null}}}}};
    document["overrides"] = QJsonObject{{"custom", true}};
    document["deletedAt"] = QJsonValue::Null;
    document["collectionId"] = QJsonValue::Null;
    document["unknown"] = "kept";
    document["createdAt"] = qint64(1'700'000'000'123);
    const QJsonObject topLevel{{"id", "top"},
                               {"name", "T"},
                               {"position", 1.5},
                               {"parentId", QJsonValue::Null},
                               {"createdAt", 1},
                               {"updatedAt", 1},
                               {"deletedAt", QJsonValue::Null}};
    const QJsonObject unknownParent{{"id", "loose"}, {"name", "L"}, {"createdAt", 1}, {"updatedAt", 1}};
    f.post("/api/v1/documents/sync", t, pushBody({document}, {topLevel, unknownParent}));

    QJsonObject back = pulled(f, t, 0)[0].toObject();
    QVERIFY(back.take("serverUpdatedAt").isDouble());
    QCOMPARE(back, document);
    const QJsonArray collections = pulled(f, t, 0, "collections");
    QVERIFY(collections[0].toObject().contains("parentId"));
    QVERIFY(collections[0][QLatin1String("parentId")].isNull());
    QVERIFY(!collections[1].toObject().contains("parentId"));
}

void tst_ServiceRoutes::invalidRecordsAreRejectedAlone_data()
{
    QTest::addColumn<bool>("isCollection");
    QTest::addColumn<QJsonValue>("record");
    const auto with = [](QJsonObject o, const char *key, const QJsonValue &v) {
        if (v.isUndefined())
            o.remove(QLatin1String(key));
        else
            o[QLatin1String(key)] = v;
        return QJsonValue(o);
    };
    const QJsonObject base = doc("x", 1);
    QTest::newRow("no id") << false << with(base, "id", QJsonValue::Undefined);
    QTest::newRow("numeric id") << false << with(base, "id", 7);
    QTest::newRow("no updatedAt") << false << with(base, "updatedAt", QJsonValue::Undefined);
    QTest::newRow("fractional updatedAt") << false << with(base, "updatedAt", 1.5);
    QTest::newRow("numeric title poisons pulls") << false << with(base, "title", 3);
    QTest::newRow("not an object") << false << QJsonValue("doc");
    QTest::newRow("collection parentId number")
        << true << QJsonValue(QJsonObject{{"id", "c"}, {"createdAt", 1}, {"updatedAt", 1}, {"parentId", 4}});
}

void tst_ServiceRoutes::invalidRecordsAreRejectedAlone()
{
    QFETCH(bool, isCollection);
    QFETCH(QJsonValue, record);
    Fixture f;
    START_SERVICE(f);
    const QString t = f.server->hooks().registerUser("ann@example.com", "Ann").sessionToken;
    const QJsonObject good{{"id", "good"}, {"name", "G"}, {"createdAt", 1}, {"updatedAt", 1}};
    const QJsonObject body = isCollection ? pushBody({}, {record, good}) : pushBody({record, doc("good", 1)});
    const QJsonObject reply = f.post("/api/v1/documents/sync", t, body).json();
    const QJsonArray results = reply[isCollection ? "collectionResults" : "results"].toArray();
    QCOMPARE(statuses(results), QStringList({"invalid", "ok"}));
    QVERIFY(!results[0][QLatin1String("error")].toString().isEmpty());
    QCOMPARE(pulled(f, t, 0, isCollection ? "collections" : "documents").size(), 1);
}

void tst_ServiceRoutes::malformedBodiesGiveAnErrorObject_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("push, cut short") << QByteArray("POST") << "/api/v1/documents/sync"
                                     << QByteArray("{\"docs\":[");
    QTest::newRow("push, docs not a list")
        << QByteArray("POST") << "/api/v1/documents/sync" << QByteArray("{\"docs\":{},\"collections\":[]}");
    QTest::newRow("pull, bad cursor")
        << QByteArray("GET") << "/api/v1/documents/sync?since=1e3" << QByteArray();
    QTest::newRow("publish, not JSON") << QByteArray("POST") << "/api/v1/published" << QByteArray("title=x");
    QTest::newRow("publish, bad slug") << QByteArray("POST") << "/api/v1/published"
                                       << QByteArray(R"({"title":"t","body":"b","slug":"../etc"})");
    QTest::newRow("ai, not all strings")
        << QByteArray("POST") << "/api/ai" << QByteArray(R"({"mode":"generate","prompt":1})");
}

void tst_ServiceRoutes::malformedBodiesGiveAnErrorObject()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    Fixture f;
    START_SERVICE(f);
    const QString t = f.server->hooks().registerUser("ann@example.com", "Ann").sessionToken;
    const Response r = f.call(method, path, t, body);
    QCOMPARE(r.status, 400);
    QVERIFY(r.json()["error"][QLatin1String("message")].isString());
}

void tst_ServiceRoutes::usersOnlySeeTheirOwnData()
{
    Fixture f;
    START_SERVICE(f);
    const QString ann = f.server->hooks().registerUser("ann@example.com", "Ann").sessionToken;
    const QString bob = f.server->hooks().registerUser("bob@example.com", "Bob").sessionToken;
    f.post("/api/v1/documents/sync", ann, pushBody({doc("same-id", 5, "ann's")}));
    QVERIFY(pulled(f, bob, 0).isEmpty());
    f.post("/api/v1/documents/sync", bob, pushBody({doc("same-id", 1, "bob's")}));
    QCOMPARE(pulled(f, ann, 0)[0][QLatin1String("body")].toString(), QStringLiteral("ann's"));
    QCOMPARE(pulled(f, bob, 0)[0][QLatin1String("body")].toString(), QStringLiteral("bob's"));

    f.post("/api/v1/published", ann, {{"title", "T"}, {"body", "B"}, {"slug", "anns-post"}});
    QCOMPARE(
        f.call("PUT", "/api/v1/published/anns-post", bob, R"({"title":"x","body":"bob was here"})").status,
        404);
    QCOMPARE(f.call("DELETE", "/api/v1/published/anns-post", bob).status, 404);
    QVERIFY(!f.call("GET", "/p/anns-post/").body.contains("bob was here"));

    const Response upload = f.call("POST", "/api/v1/images", ann,
                                   "--b\r\nContent-Disposition: form-data; name=\"file\"; "
                                   "filename=\"a.png\"\r\n\r\nPNG\r\n--b--\r\n",
                                   {{"content-type", "multipart/form-data; boundary=b"}});
    QCOMPARE(upload.status, 201);
    QVERIFY(f.call("GET", "/api/images", bob).json()["images"].toArray().isEmpty());
}

void tst_ServiceRoutes::publishingLifecycle()
{
    Fixture f;
    START_SERVICE(f);
    const QString t = f.server->hooks().registerUser("ann@example.com", "Ann").sessionToken;
    const QJsonObject first =
        f.post("/api/v1/published", t, {{"title", "Post"}, {"body", "# Hi\n\n*there*"}, {"slug", "my-post"}})
            .json();
    QCOMPARE(first["slug"].toString(), QStringLiteral("my-post"));
    QCOMPARE(first["url"].toString(), f.url("/p/my-post/").toString());
    QCOMPARE(
        f.post("/api/v1/published", t, {{"title", "P"}, {"body", "b"}, {"slug", "my-post"}}).json()["slug"],
        QStringLiteral("my-post-2"));
    const QString assigned =
        f.post("/api/v1/published", t, {{"title", "P"}, {"body", "b"}}).json()["slug"].toString();
    QVERIFY(QRegularExpression("^[a-z0-9]{8,}$").match(assigned).hasMatch());

    const Response page = f.call("GET", "/p/my-post/");
    QCOMPARE(page.status, 200);
    QVERIFY(page.body.contains("<h1>Hi</h1>") && page.body.contains("<em>there</em>"));
    QVERIFY(page.header("content-security-policy").contains("default-src 'none'"));

    const Response updated =
        f.call("PUT", "/api/v1/published/my-post", t, R"({"title":"Post","body":"new text"})");
    QCOMPARE(updated.json()["slug"].toString(), QStringLiteral("my-post"));
    QVERIFY(f.call("GET", "/p/my-post/").body.contains("new text"));
    QCOMPARE(f.call("DELETE", "/api/v1/published/my-post", t).status, 204);
    QCOMPARE(f.call("DELETE", "/api/v1/published/my-post", t).status, 404);
    QCOMPARE(f.call("GET", "/p/my-post/").status, 404);
}

void tst_ServiceRoutes::blogAndUserSiteListTheirCollections()
{
    Fixture f;
    START_SERVICE(f);
    const QString admin =
        f.server->hooks().registerUser("admin@example.com", "Admin", "pw", {}, true).sessionToken;
    const QString ann = f.server->hooks().registerUser("ann@example.com", "Ann", "pw", "ann").sessionToken;
    const auto publishFrom = [&](const QString &token, const QString &collection, const QString &title) {
        QJsonObject d = doc(title, 1, title + " body");
        d["collectionId"] = collection;
        f.post("/api/v1/documents/sync", token, pushBody({d}));
        f.post("/api/v1/published", token,
               {{"title", title}, {"body", "---\na: 1\n---\n" + title + " body"}});
    };
    publishFrom(admin, "site-blog", "AdminPost");
    publishFrom(admin, "personal-site", "AdminPage");
    publishFrom(ann, "site-blog", "AnnBlogPost");
    publishFrom(ann, "personal-site", "AnnPage");

    const QByteArray blog = f.call("GET", "/blog/").body;
    QVERIFY(blog.contains("AdminPost"));
    QVERIFY(!blog.contains("AdminPage") && !blog.contains("AnnBlogPost"));
    const QByteArray site =
        f.call("GET", "/", {}, {}, {{"host", "ann.localhost:" + QByteArray::number(f.server->port())}}).body;
    QVERIFY(site.contains("AnnPage"));
    QVERIFY(!site.contains("AnnBlogPost") && !site.contains("Admin"));
}

void tst_ServiceRoutes::imageUploadListAndBytes()
{
    Fixture f;
    START_SERVICE(f);
    const QString t = f.server->hooks().registerUser("ann@example.com", "Ann").sessionToken;
    const QByteArray boundary =
        "Tessivo-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
    const QByteArray image("\x89PNG\r\n\x1a\n--not-a-boundary\r\n", 26);
    const QByteArray body =
        "--" + boundary + "\r\nContent-Disposition: form-data; name=\"doc_id\"\r\n\r\nd1\r\n--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"caf\xc3\xa9 'x'.png\"\r\n"
        "Content-Type: image/png\r\n\r\n" +
        image + "\r\n--" + boundary + "--\r\n";
    const Response upload = f.call("POST", "/api/v1/images", t, body,
                                   {{"content-type", "multipart/form-data; boundary=" + boundary}});
    QCOMPARE(upload.status, 201);
    QCOMPARE(upload.json()["filename"].toString(), QStringLiteral("café 'x'.png"));
    QCOMPARE(upload.json()["size"].toInteger(), image.size());

    const QJsonArray images = f.call("GET", "/api/images", t).json()["images"].toArray();
    QCOMPARE(images.size(), 1);
    QCOMPARE(images[0][QLatin1String("id")], upload.json()["id"]);
    const QUrl url(images[0][QLatin1String("url")].toString());
    const Response bytes = f.call("GET", url.path());
    QCOMPARE(bytes.body, image);
    QCOMPARE(bytes.header("content-type"), QByteArray("image/png"));
    QCOMPARE(f.call("GET", "/media/../../etc/passwd").status, 404);

    const QByteArray tooBig(10 * 1024 * 1024 + 128 * 1024, 'x');
    const Response refused = f.call("POST", "/api/v1/images", t, tooBig,
                                    {{"content-type", "multipart/form-data; boundary=" + boundary}});
    QCOMPARE(refused.status, 413);
    QVERIFY(refused.json()["error"].isObject());
    // Nobody without a session gets a large body buffered.
    QCOMPARE(f.call("POST", "/api/v1/documents/sync", {}, tooBig).status, 401);
}

void tst_ServiceRoutes::hooksForceRepliesAndLogRequests()
{
    Fixture f;
    START_SERVICE(f);
    const Account ann = f.server->hooks().registerUser("ann@example.com", "Ann");
    f.server->hooks().forceReply("GET", "/api/v1/me", 2, {418, "{}", {{"set-auth-token", "rolled"}}});
    for (int nth = 1; nth <= 3; ++nth) // Qt resends twice on a closed connection
        f.server->hooks().forceReply("GET", "/api/images", nth, {200, {}, {}, true});
    QCOMPARE(f.call("GET", "/api/v1/me", ann.sessionToken).status, 200);
    const Response forced = f.call("GET", "/api/v1/me", ann.sessionToken);
    QCOMPARE(forced.status, 418);
    QCOMPARE(forced.header("set-auth-token"), QByteArray("rolled"));
    QCOMPARE(f.call("GET", "/api/v1/me", ann.sessionToken).status, 200);
    QVERIFY(f.call("GET", "/api/images", ann.sessionToken).error != QNetworkReply::NoError);

    f.server->hooks().clearRequestLog();
    f.call("GET", "/api/v1/documents/sync?since=42", ann.sessionToken, {}, {{"x-Mixed-Case", "v"}});
    const LoggedRequest logged = f.server->hooks().requestLog().value(0);
    QCOMPARE(logged.method, QByteArray("GET"));
    QCOMPARE(logged.path, QStringLiteral("/api/v1/documents/sync"));
    QCOMPARE(logged.rawQuery, QByteArray("since=42"));
    QVERIFY(logged.hadQuery);
    QCOMPARE(logged.header("X-MIXED-CASE"), QByteArray("v"));

    f.server->stop(); // kept-alive connections too
    QCOMPARE(f.call("GET", "/api/v1/me", ann.sessionToken).status, 0);
}

QTEST_GUILESS_MAIN(tst_ServiceRoutes)
#include "tst_serviceroutes.moc"
