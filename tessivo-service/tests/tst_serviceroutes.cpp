#include "ServiceFixture.h"

#include <QJsonArray>
#include <QRegularExpression>

using namespace servicetest;
using namespace Qt::StringLiterals;

namespace {
QJsonObject doc(const QString &id, qint64 updatedAt, const QString &body = QStringLiteral("text"))
{
    return {{"id", id}, {"title", id}, {"body", body}, {"createdAt", 1}, {"updatedAt", updatedAt}};
}

QJsonArray pulled(Fixture &f, const QString &token, qint64 since, const char *key = "documents")
{
    const Response r = f.call("GET", QStringLiteral("/api/v1/documents/sync?since=%1").arg(since), token);
    return r.json().value(QLatin1String(key)).toArray();
}

} // namespace

class tst_ServiceRoutes : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> f;
    QString t; // a signed-in user's

private slots:
    void init()
    {
        f = std::make_unique<Fixture>();
        START_SERVICE(*f);
        t = f->token();
    }

    void authenticatedRoutesRefuseBadTokens_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        for (const char *route :
             {"GET /api/auth/get-session", "POST /api/auth/sign-out", "GET /api/v1/me",
              "GET /api/v1/documents/sync?since=0", "POST /api/v1/documents/sync", "POST /api/v1/published",
              "PUT /api/v1/published/my-post", "DELETE /api/v1/published/my-post", "GET /api/images",
              "POST /api/v1/images", "POST /api/ai"}) {
            const QByteArrayList parts = QByteArray(route).split(' ');
            QTest::newRow(route) << parts[0] << QString::fromLatin1(parts[1]);
        }
    }

    void authenticatedRoutesRefuseBadTokens()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        const Account revoked = f->hooks().registerUser("r@example.com", "R");
        f->hooks().revokeSessionToken(revoked.sessionToken);
        for (const QString &token : {QString(), QStringLiteral("not-a-token"), revoked.sessionToken}) {
            const Response r = f->call(method, path, token, "{}");
            QCOMPARE(r.status, 401);
            QCOMPARE(r.json()["error"][u"code"_s].toString(), QStringLiteral("unauthorized"));
        }
    }

    void oneTimeTokensSessionsAndSignOut()
    {
        qint64 clock = 1'000'000;
        f->hooks().setClock([&] { return clock; });
        const Account ann = f->hooks().registerUser("otto@example.com", "Otto");

        const QString ott = f->hooks().mintOneTimeToken(ann.userId);
        const Response first = f->post("/api/auth/one-time-token/verify", {}, {{"token", ott}});
        QCOMPARE(first.status, 200);
        const QString session = QString::fromLatin1(first.header("set-auth-token"));
        QVERIFY(!session.isEmpty());
        QCOMPARE(f->call("GET", "/api/v1/me", session).json()["user"][u"id"_s].toString(), ann.userId);
        QVERIFY(f->call("GET", "/api/auth/get-session", session).body != "null");
        QCOMPARE(f->call("POST", "/api/auth/sign-out", session).status, 200);
        QCOMPARE(f->call("GET", "/api/auth/get-session", session).status, 401);
        QCOMPARE(f->call("GET", "/api/v1/me", ann.sessionToken).status, 200);

        const Response again = f->post("/api/auth/one-time-token/verify", {}, {{"token", ott}});
        QCOMPARE(again.status, 401);
        QVERIFY(again.json()["error"].isObject());
        QVERIFY(!again.header("set-auth-token").size());

        const QString late = f->hooks().mintOneTimeToken(ann.userId);
        clock += 6 * 60 * 1000;
        QCOMPARE(f->post("/api/auth/one-time-token/verify", {}, {{"token", late}}).status, 401);
        f->server->stop(); // kept-alive connections too
        QCOMPARE(f->call("GET", "/api/v1/me", ann.sessionToken).status, 0);
    }

    void sessionsRollWithAGracePeriod()
    {
        Fixture f;
        ServerOptions options;
        options.sessionRollAfterMs = 1000;
        options.sessionGraceMs = 500;
        START_SERVICE(f, options);
        qint64 clock = 1'000'000;
        f.hooks().setClock([&] { return clock; });
        const Account ann = f.hooks().registerUser("ann@example.com", "Ann");

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

    void pushMergesByUpdatedAtWithIncreasingStamps()
    {
        // A frozen clock: stamps must still increase.
        f->hooks().setClock([] { return qint64(5000); });

        const QJsonArray collection = {
            QJsonObject{{"id", "c"}, {"name", "C"}, {"createdAt", 1}, {"updatedAt", 1}}};
        Response r = f->post("/api/v1/documents/sync", t, pushBody({doc("a", 10), doc("b", 10)}, collection));
        QCOMPARE(statuses(r.json()["results"].toArray()), QStringList({"ok", "ok"}));
        QCOMPARE(statuses(r.json()["collectionResults"].toArray()), QStringList({"ok"}));
        QJsonArray all = pulled(*f, t, 0);
        QCOMPARE(all.size(), 2);
        const qint64 stampA = all[0][u"serverUpdatedAt"_s].toInteger(),
                     stampB = all[1][u"serverUpdatedAt"_s].toInteger();
        const qint64 stampC = pulled(*f, t, 0, "collections")[0][u"serverUpdatedAt"_s].toInteger();
        QVERIFY(stampA >= 5000 && stampB > stampA && stampC > stampB);

        // Older loses and is re-stamped; equal or newer wins.
        QJsonObject sameTime = doc("b", 10, "same time");
        sameTime["serverUpdatedAt"] = stampB; // written over the stored version
        r = f->post("/api/v1/documents/sync", t, pushBody({doc("a", 9, "old"), sameTime}));
        QCOMPARE(statuses(r.json()["results"].toArray()), QStringList({"stale", "ok"}));
        const QJsonArray changed = pulled(*f, t, stampC);
        QCOMPARE(changed.size(), 2);
        QCOMPARE(changed[0][u"body"_s].toString(), QStringLiteral("text"));
        QCOMPARE(changed[1][u"body"_s].toString(), QStringLiteral("same time"));
        QVERIFY(changed[0][u"serverUpdatedAt"_s].toInteger() > stampC);
        QVERIFY(changed[1][u"serverUpdatedAt"_s].toInteger() > changed[0][u"serverUpdatedAt"_s].toInteger());
        QVERIFY(pulled(*f, t, changed[1][u"serverUpdatedAt"_s].toInteger()).isEmpty());

        // Tombstones are kept and returned.
        QJsonObject tombstone = doc("a", 20);
        tombstone["deletedAt"] = 20;
        f->post("/api/v1/documents/sync", t, pushBody({tombstone}));
        QCOMPARE(pulled(*f, t, 0).last()["deletedAt"].toInteger(), 20);
    }

    void recordsComeBackVerbatim()
    {
        QJsonObject document = doc("d", 3);
        // Members the app doesn't know, at any depth, come back too.
        document["frontmatter"] =
            QJsonObject{{"tags", QJsonArray{"a", "b"}}, {"x-later", QJsonObject{{"x", QJsonValue::Null}}}};
        document["overrides"] = QJsonArray{"title", "custom"};
        document["deletedAt"] = QJsonValue::Null;
        document["collectionId"] = QJsonValue::Null;
        document["unknown"] = "kept";
        document["createdAt"] = qint64(1'700'000'000'123);
        const QJsonObject topLevel =
            QJsonDocument::fromJson(
                R"({"id":"top","name":"T","position":-15,"parentId":null,"createdAt":1,"updatedAt":1,"deletedAt":null})")
                .object();
        const QJsonObject unknownParent{{"id", "loose"}, {"name", "L"}, {"createdAt", 1}, {"updatedAt", 1}};
        f->post("/api/v1/documents/sync", t, pushBody({document}, {topLevel, unknownParent}));

        QJsonObject back = pulled(*f, t, 0)[0].toObject();
        QVERIFY(back.take("serverUpdatedAt").isDouble());
        QCOMPARE(back, document);
        const QJsonArray collections = pulled(*f, t, 0, "collections");
        QVERIFY(collections[0].toObject().contains("parentId"));
        QVERIFY(collections[0][u"parentId"_s].isNull());
        QVERIFY(!collections[1].toObject().contains("parentId"));
    }

    void invalidRecordsAreRejectedAlone_data()
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
            << true
            << QJsonValue(QJsonObject{{"id", "c"}, {"createdAt", 1}, {"updatedAt", 1}, {"parentId", 4}});
    }

    void invalidRecordsAreRejectedAlone()
    {
        QFETCH(bool, isCollection);
        QFETCH(QJsonValue, record);
        const QJsonObject good{{"id", "good"}, {"name", "G"}, {"createdAt", 1}, {"updatedAt", 1}};
        const QJsonObject body =
            isCollection ? pushBody({}, {record, good}) : pushBody({record, doc("good", 1)});
        const QJsonObject reply = f->post("/api/v1/documents/sync", t, body).json();
        const QJsonArray results = reply[isCollection ? "collectionResults" : "results"].toArray();
        QCOMPARE(statuses(results), QStringList({"invalid", "ok"}));
        QVERIFY(!results[0][u"error"_s].toString().isEmpty());
        QCOMPARE(pulled(*f, t, 0, isCollection ? "collections" : "documents").size(), 1);
    }

    void malformedBodiesGiveAnErrorObject_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("push, cut short") << "POST"_ba
                                         << "/api/v1/documents/sync" << QByteArray("{\"docs\":[");
        QTest::newRow("push, docs not a list")
            << "POST"_ba
            << "/api/v1/documents/sync" << QByteArray("{\"docs\":{},\"collections\":[]}");
        QTest::newRow("pull, bad cursor") << "GET"_ba
                                          << "/api/v1/documents/sync?since=1e3" << QByteArray();
        QTest::newRow("publish, not JSON") << "POST"_ba
                                           << "/api/v1/published" << QByteArray("title=x");
        QTest::newRow("publish, bad slug")
            << "POST"_ba
            << "/api/v1/published" << QByteArray(R"({"title":"t","body":"b","slug":"../etc"})");
        // "$" in a pattern also matches before a final line break.
        QTest::newRow("publish, slug with a final line break")
            << "POST"_ba
            << "/api/v1/published" << QByteArray(R"({"title":"t","body":"b","slug":"my-post\n"})");
        QTest::newRow("ai, prompt over the app's limit")
            << "POST"_ba
            << "/api/ai"
            << QJsonDocument(
                   QJsonObject{
                       {"mode", "generate"}, {"prompt", QString(1001, u'p')}, {"before", ""}, {"after", ""}})
                   .toJson();
        QTest::newRow("ai, not all strings") << "POST"_ba
                                             << "/api/ai" << QByteArray(R"({"mode":"generate","prompt":1})");
    }

    void malformedBodiesGiveAnErrorObject()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        const Response r = f->call(method, path, t, body);
        QCOMPARE(r.status, 400);
        QVERIFY(r.json()["error"][u"message"_s].isString());
    }

    void usersOnlySeeTheirOwnData()
    {
        const QString &ann = t;
        const QString bob = f->token("bob@example.com");
        f->post("/api/v1/documents/sync", ann, pushBody({doc("same-id", 5, "ann's")}));
        QVERIFY(pulled(*f, bob, 0).isEmpty());
        f->post("/api/v1/documents/sync", bob, pushBody({doc("same-id", 1, "bob's")}));
        QCOMPARE(pulled(*f, ann, 0)[0][u"body"_s].toString(), QStringLiteral("ann's"));
        QCOMPARE(pulled(*f, bob, 0)[0][u"body"_s].toString(), QStringLiteral("bob's"));

        f->post("/api/v1/published", ann, {{"title", "T"}, {"body", "B"}, {"slug", "anns-post"}});
        QCOMPARE(f->call("PUT", "/api/v1/published/anns-post", bob, R"({"title":"x","body":"bob was here"})")
                     .status,
                 404);
        QCOMPARE(f->call("DELETE", "/api/v1/published/anns-post", bob).status, 404);
        QVERIFY(!f->call("GET", "/p/anns-post/").body.contains("bob was here"));

        const Response upload = f->call("POST", "/api/v1/images", ann,
                                        "--b\r\nContent-Disposition: form-data; name=\"file\"; "
                                        "filename=\"a.png\"\r\n\r\nPNG\r\n--b--\r\n",
                                        {{"content-type", "multipart/form-data; boundary=b"}});
        QCOMPARE(upload.status, 201);
        QVERIFY(f->call("GET", "/api/images", bob).json()["images"].toArray().isEmpty());
    }

    // Controls pasted into a title stay out of the page (tab aside).
    void pagesLeaveControlCharactersOutOfTitles()
    {
        const QString title = u"a\u0001b\u001bc\u007fd\u0085e\u009ff\tg"_s;
        QCOMPARE(
            f->post("/api/v1/published", t, {{"title", title}, {"body", "text"}, {"slug", "ctl"}}).status,
            201);
        const QString page = QString::fromUtf8(f->call("GET", "/p/ctl/").body);
        QVERIFY2(page.contains(u"<title>abcdef\tg</title>"_s), qPrintable(page));
        for (const QChar c : title.left(title.size() - 2)) {
            if (c.unicode() < 0x20 || c.unicode() >= 0x7f)
                QVERIFY2(!page.contains(c), qPrintable(QString::number(c.unicode(), 16)));
        }
    }

    // An image or link on an IPv6 host keeps the brackets a browser needs.
    void pagesKeepIPv6HostsLoadable()
    {
        const QByteArray id = "0123456789abcdef0123456789abcdef";
        const QString body =
            "![i](http://[::1]:8787/media/" + id + ")\n\n[l](https://[2001:DB8::1]/x?a=%5B)\n";
        QCOMPARE(f->post("/api/v1/published", t, {{"title", "T"}, {"body", body}, {"slug", "six"}}).status,
                 201);
        const QByteArray page = f->call("GET", "/p/six/").body;
        QVERIFY2(page.contains("src=\"http://[::1]:8787/media/" + id + "\""), page.constData());
        QVERIFY2(page.contains("href=\"https://[2001:DB8::1]/x?a=%5B\""), page.constData());
    }

    void publishingLifecycle()
    {
        const QJsonObject first =
            f->post("/api/v1/published", t,
                    {{"title", "Post"}, {"body", "# Hi\n\n*there*"}, {"slug", "my-post"}})
                .json();
        QCOMPARE(first["slug"].toString(), QStringLiteral("my-post"));
        QCOMPARE(first["url"].toString(),
                 QStringLiteral("http://localhost:%1/p/my-post/").arg(f->server->port()));
        QCOMPARE(f->post("/api/v1/published", t, {{"title", "P"}, {"body", "b"}, {"slug", "my-post"}})
                     .json()["slug"],
                 QStringLiteral("my-post-2"));
        const QString assigned =
            f->post("/api/v1/published", t, {{"title", "P"}, {"body", "b"}}).json()["slug"].toString();
        QVERIFY(QRegularExpression("^[a-z0-9]{8,}$").match(assigned).hasMatch());

        const Response page = f->call("GET", "/p/my-post/");
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("<h1>Hi</h1>") && page.body.contains("<em>there</em>"));
        QVERIFY(page.header("content-security-policy").contains("default-src 'none'"));

        const Response updated =
            f->call("PUT", "/api/v1/published/my-post", t, R"({"title":"Post","body":"new text"})");
        QCOMPARE(updated.json()["slug"].toString(), QStringLiteral("my-post"));
        QVERIFY(f->call("GET", "/p/my-post/").body.contains("new text"));
        QCOMPARE(f->call("DELETE", "/api/v1/published/my-post", t).status, 204);
        QCOMPARE(f->call("DELETE", "/api/v1/published/my-post", t).status, 404);
        QCOMPARE(f->call("GET", "/p/my-post/").status, 404);
    }

    // Two first publishes of one slug at once, from two workers and two
    // accounts (one account's writes take turns): another writer holds the
    // database until both have looked for the slug and wait to store it.
    // Both are published, one under the next suffix.
    void twoFirstPublishesOfOneSlugAtOnce()
    {
        const QString side = u"side"_s;
        const QStringList tokens = {t, f->hooks().registerUser("bo@example.com", "Bo").sessionToken};
        {
            QSqlDatabase db = f->openDatabase(side);
            QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
            const bool postgres = db.driverName() == u"QPSQL"_s;
            QSqlQuery held(db);
            if (postgres)
                QVERIFY(held.exec(u"BEGIN"_s) && held.exec(u"LOCK TABLE publications IN EXCLUSIVE MODE"_s));
            else
                QVERIFY(held.exec(u"BEGIN IMMEDIATE"_s));

            QNetworkAccessManager network;
            QList<QNetworkReply *> replies;
            for (int i = 0; i < 2; ++i) {
                QNetworkRequest request(f->url(u"/api/v1/published"_s));
                request.setRawHeader("authorization", protocol::bearerHeader(tokens[i]));
                request.setRawHeader("content-type", "application/json");
                replies << network.post(request, R"({"title":"T","body":"B","slug":"race"})");
            }
            const auto waiting = [&] {
                if (!postgres) {
                    const QList<LoggedRequest> log = f->hooks().requestLog();
                    return std::count_if(log.begin(), log.end(), [](const LoggedRequest &r) {
                        return r.path == u"/api/v1/published"_s;
                    });
                }
                QSqlQuery q(db);
                q.exec(u"SELECT count(*) FROM pg_locks WHERE NOT granted AND relation = "
                       u"'publications'::regclass "
                       "AND database = (SELECT oid FROM pg_database WHERE datname = current_database())"_s);
                return q.next() ? qsizetype(q.value(0).toInt()) : -1;
            };
            QTRY_COMPARE_WITH_TIMEOUT(waiting(), 2, TestWaits::limitMs);
            QVERIFY(held.exec(u"ROLLBACK"_s));

            QTRY_VERIFY_WITH_TIMEOUT(replies[0]->isFinished() && replies[1]->isFinished(),
                                     TestWaits::limitMs);
            QStringList slugs;
            for (QNetworkReply *reply : replies) {
                QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 201);
                slugs << QJsonDocument::fromJson(reply->readAll())[u"slug"_s].toString();
            }
            slugs.sort();
            QCOMPARE(slugs, QStringList({u"race"_s, u"race-2"_s}));
        }
        QSqlDatabase::removeDatabase(side);
    }

    void blogAndUserSiteListTheirCollections()
    {
        const QString admin =
            f->hooks().registerUser("admin@example.com", "Admin", "pw", {}, true).sessionToken;
        const QString ann = f->hooks().registerUser("site@example.com", "Ann", "pw", "ann").sessionToken;
        const auto publishFrom = [&](const QString &token, const QString &collection, const QString &title) {
            QJsonObject d = doc(title, 1, title + " body");
            d["collectionId"] = collection;
            f->post("/api/v1/documents/sync", token, pushBody({d}));
            f->post("/api/v1/published", token,
                    {{"title", title}, {"body", "---\na: 1\n---\n" + title + " body"}});
        };
        publishFrom(admin, "site-blog", "AdminPost");
        publishFrom(admin, "personal-site", "AdminPage");
        publishFrom(ann, "site-blog", "AnnBlogPost");
        publishFrom(ann, "personal-site", "AnnPage");

        const QByteArray blog = f->call("GET", "/blog/").body;
        QVERIFY(blog.contains("AdminPost"));
        QVERIFY(!blog.contains("AdminPage") && !blog.contains("AnnBlogPost"));
        const QByteArray site =
            f->call("GET", "/", {}, {}, {{"host", "ann.localhost:" + QByteArray::number(f->server->port())}})
                .body;
        QVERIFY(site.contains("AnnPage"));
        QVERIFY(!site.contains("AnnBlogPost") && !site.contains("Admin"));
    }

    // The public host is always the home page, even when its first label
    // is someone's handle; a site is only <handle>.<public host>, and a
    // name there that is no one's site, or one the service keeps, is 404.
    void aHandleNeverTakesTheHomePage()
    {
        Fixture service;
        ServerOptions options;
        options.publicUrl = u"http://tessivo.test"_s;
        START_SERVICE(service, options);
        service.hooks().registerUser("squatter@example.com", "Squatter", "password", "tessivo");
        service.hooks().registerUser("ann@example.com", "Ann", "password", "ann");
        service.hooks().registerUser("old@example.com", "Old", "password", "admin");
        const auto get = [&](const QByteArray &host) {
            return service.call("GET", "/", {}, {}, {{"host", host}});
        };
        const Response home = get("tessivo.test");
        QCOMPARE(home.status, 200);
        QVERIFY(home.body.contains("Tessivo service"));
        QVERIFY(!home.body.contains("Squatter"));
        const Response ann = get("ann.tessivo.test");
        QCOMPARE(ann.status, 200);
        QVERIFY(ann.body.contains("<h1>Ann</h1>"));
        QCOMPARE(get("nobody.tessivo.test").status, 404);
        QCOMPARE(get("admin.tessivo.test").status, 404);
    }

    void imageUploadListAndBytes()
    {
        const QByteArray boundary =
            "Tessivo-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
        const QByteArray image("\x89PNG\r\n\x1a\n--not-a-boundary\r\n", 26);
        const QByteArray body =
            "--" + boundary + "\r\nContent-Disposition: form-data; name=\"doc_id\"\r\n\r\nd1\r\n--" +
            boundary +
            "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"caf\xc3\xa9 'x'.png\"\r\n"
            "Content-Type: image/png\r\n\r\n" +
            image + "\r\n--" + boundary + "--\r\n";
        const Response upload = f->call("POST", "/api/v1/images", t, body,
                                        {{"content-type", "multipart/form-data; boundary=" + boundary}});
        QCOMPARE(upload.status, 201);
        QCOMPARE(upload.json()["filename"].toString(), QStringLiteral("café 'x'.png"));
        QCOMPARE(upload.json()["size"].toInteger(), image.size());

        const QJsonArray images = f->call("GET", "/api/images", t).json()["images"].toArray();
        QCOMPARE(images.size(), 1);
        QCOMPARE(images[0][u"id"_s], upload.json()["id"]);
        const QUrl url(images[0][u"url"_s].toString());
        const Response bytes = f->call("GET", url.path());
        QCOMPARE(bytes.body, image);
        QCOMPARE(bytes.header("content-type"), QByteArray("image/png"));
        QCOMPARE(f->call("GET", "/media/../../etc/passwd").status, 404);

        const QByteArray tooBig(10 * 1024 * 1024 + 128 * 1024, 'x');
        const Response refused = f->call("POST", "/api/v1/images", t, tooBig,
                                         {{"content-type", "multipart/form-data; boundary=" + boundary}});
        QCOMPARE(refused.status, 413);
        QVERIFY(refused.json()["error"].isObject());
        // Nobody without a session gets a large body buffered.
        QCOMPARE(f->call("POST", "/api/v1/documents/sync", {}, tooBig).status, 401);
    }
};

QTEST_GUILESS_MAIN(tst_ServiceRoutes)
#include "tst_serviceroutes.moc"
