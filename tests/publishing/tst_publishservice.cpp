#include "PublishingFixture.h"

#include "store/Persistence.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

class TestPublishService : public QObject
{
    Q_OBJECT

    PublishingFixture f;
    Document m_doc;

    QList<LoggedRequest> log() { return f.server->hooks().requestLog(); }
    std::optional<APIResult<QString>> publish(const std::optional<QString> &slug)
    {
        return f.outcome(f.service().publish(m_doc, slug));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(f.start()); }
    void init()
    {
        m_doc = f.store->createDocument(std::nullopt, u"# Notes\n\nText."_s);
        f.server->hooks().clearRequestLog();
    }

    void slugRule_data()
    {
        QTest::addColumn<QString>("slug");
        QTest::addColumn<bool>("valid");
        QTest::newRow("two characters") << u"a1"_s << true;
        QTest::newRow("inner single hyphens") << u"my-post-2"_s << true;
        QTest::newRow("sixty") << QString(60, u'a') << true;
        QTest::newRow("sixty-one") << QString(61, u'a') << false;
        QTest::newRow("one character") << u"a"_s << false;
        QTest::newRow("double hyphen") << u"a--b"_s << false;
        QTest::newRow("edge hyphen") << u"ab-"_s << false;
        QTest::newRow("upper case") << u"My-post"_s << false;
        QTest::newRow("underscore") << u"my_post"_s << false;
        QTest::newRow("accent") << u"caf\u00e9"_s << false;
    }
    void slugRule()
    {
        QFETCH(QString, slug);
        QTEST(PublishService::isValidSlug(slug), "valid");
    }

    void publishBody_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("sent");
        QTest::newRow("body alone") << QString() << u"Hi"_s << u"Hi"_s;
        QTest::newRow("block alone") << u"T"_s << QString() << u"---\ntitle: T\n---\n"_s;
        QTest::newRow("block, blank line, body") << u"T"_s << u"Hi"_s << u"---\ntitle: T\n---\n\nHi"_s;
        QTest::newRow("neither") << QString() << QString() << QString();
    }
    void publishBody()
    {
        QFETCH(QString, title);
        Document doc;
        QFETCH(QString, body);
        doc.body = body;
        if (!title.isEmpty()) {
            doc.frontmatter.title = title;
            doc.overrides = {u"title"_s};
        }
        QTEST(PublishService::publishBody(doc), "sent");
    }

    // The slug the service answers with is stored, whatever was asked; it
    // reaches state.json with the state save and marks nothing dirty.
    void firstPublish_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<bool>("taken");
        QTest::newRow("random") << QString() << false;
        QTest::newRow("custom") << u"fresh-post"_s << false;
        QTest::newRow("custom but taken") << u"my-post"_s << true;
    }
    void firstPublish()
    {
        QFETCH(QString, asked);
        QFETCH(bool, taken);
        if (taken)
            QVERIFY(publish(asked).value());
        f.settle();
        const QStringList dirty = f.store->state().dirtyDocumentIDs;
        f.server->hooks().clearRequestLog();

        const auto result = publish(asked.isEmpty() ? std::nullopt : std::optional(asked));
        QVERIFY(result && result->ok());
        const QString slug = result->value();
        QCOMPARE(f.store->publishedSlug(m_doc.id), slug);
        QVERIFY(taken ? slug == asked + u"-2"_s : asked.isEmpty() || slug == asked);
        const QJsonObject sent = QJsonDocument::fromJson(log().value(0).body).object();
        const QStringList keys = asked.isEmpty() ? QStringList{u"body"_s, u"title"_s}
                                                 : QStringList{u"body"_s, u"slug"_s, u"title"_s};
        QCOMPARE(sent.keys(), keys);

        QVERIFY(f.store->pendingSaveIDs().isEmpty());
        QCOMPARE(f.store->state().dirtyDocumentIDs, dirty);
        f.settle();
        QCOMPARE(Persistence::loadState(f.dir.filePath(u"base"_s)).publishedSlugs.value(m_doc.id), slug);
    }

    // 403 and 404 mean the link is no longer this document's: forgotten,
    // with a message saying so. Anything else keeps it.
    void update_data()
    {
        QTest::addColumn<int>("forced");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("message");
        QTest::newRow("done") << 0 << true << QString();
        QTest::newRow("taken down elsewhere") << 404 << false << PublishService::linkLostMessage();
        QTest::newRow("forbidden") << 403 << false << PublishService::linkLostMessage();
        QTest::newRow("service fault") << 500 << true << u"Request failed (500)."_s;
    }
    void update()
    {
        QFETCH(int, forced);
        const QString slug = publish(std::nullopt)->value();
        if (forced == 404)
            QVERIFY(f.outcome(f.service().unpublish(u"other"_s, slug)));
        else if (forced)
            f.server->hooks().forceReply("PUT", u"/api/v1/published/"_s + slug, 1,
                                         ScriptedReply{forced, {}, {}});
        f.store->setPublishedSlug(slug, m_doc.id);
        f.server->hooks().clearRequestLog();

        const auto result = f.outcome(f.service().update(m_doc, slug));
        QVERIFY(result);
        QCOMPARE(result->ok(), forced == 0);
        QTEST(result->ok() ? QString() : result->failure().description(), "message");
        QTEST(f.store->publishedSlug(m_doc.id).has_value(), "kept");
        QVERIFY(!QJsonDocument::fromJson(log().value(0).body).object().contains(u"slug"_s));
    }

    // A page already gone counts as taken down.
    void unpublish_data()
    {
        QTest::addColumn<int>("forced");
        QTest::addColumn<bool>("ok");
        QTest::newRow("taken down") << 0 << true;
        QTest::newRow("already gone") << 404 << true;
        QTest::newRow("service fault") << 500 << false;
    }
    void unpublish()
    {
        QFETCH(int, forced);
        const QString slug = publish(std::nullopt)->value();
        if (forced)
            f.server->hooks().forceReply("DELETE", u"/api/v1/published/"_s + slug, 1,
                                         ScriptedReply{forced, {}, {}});
        f.server->hooks().clearRequestLog();

        const auto result = f.outcome(f.service().unpublish(m_doc.id, slug));
        QVERIFY(result);
        QTEST(result->ok(), "ok");
        QCOMPARE(f.store->publishedSlug(m_doc.id).has_value(), !result->ok());
        const LoggedRequest sent = log().value(0);
        QVERIFY(sent.body.isEmpty() && !sent.hasHeader("content-type"));
        QCOMPARE(sent.header("authorization"), "Bearer " + f.token.toUtf8());
    }

    // A slug read back from state.json is one path segment in every URL,
    // whatever it holds.
    void hostileSlugStaysOneSegment()
    {
        const QString hostile = u"../../api/v1/me?x=1#y"_s;
        f.store->setPublishedSlug(hostile, m_doc.id);
        f.store->flushPendingSaves();
        QVERIFY(f.openStore());
        QCOMPARE(f.store->publishedSlug(m_doc.id), hostile);

        QCOMPARE(f.service().publicLink(hostile).toString(QUrl::FullyEncoded),
                 f.client->baseURL().toString() + u"/p/..%2F..%2Fapi%2Fv1%2Fme%3Fx%3D1%23y/"_s);
        f.outcome(f.service().update(*f.store->document(m_doc.id), hostile));
        f.store->setPublishedSlug(hostile, m_doc.id);
        f.outcome(f.service().unpublish(m_doc.id, hostile));
        for (const LoggedRequest &sent : log()) {
            QCOMPARE(sent.path, u"/api/v1/published/"_s + hostile);
            QVERIFY(!sent.hadQuery);
        }
        QCOMPARE(log().size(), 2);

        // Dots alone would be resolved away: nothing is sent, the page
        // counts as gone.
        f.server->hooks().clearRequestLog();
        QVERIFY(!f.service().publicLink(u".."_s).isValid());
        f.store->setPublishedSlug(u".."_s, m_doc.id);
        QVERIFY(f.outcome(f.service().unpublish(m_doc.id, u".."_s))->ok());
        QVERIFY(log().isEmpty() && !f.store->publishedSlug(m_doc.id));
    }

    // What a browser gets at the link: the document's math, code and table,
    // and none of its scripts.
    void publicPageReads()
    {
        m_doc = f.store->createDocument(
            std::nullopt,
            u"# Page\n\nEuler: $e^{i\\pi}+1=0$\n\n$$\\int_0^1 x\\,dx$$\n\n```cpp\nint a = 1 < 2;\n```\n\n"
            "| a | b |\n|---|---|\n| 1 | 2 |\n\n<script>alert(1)</script>\n"
            "<img src=x onerror=alert(2)> [x](javascript:alert(3))\n"_s);
        const QUrl link = f.service().publicLink(publish(std::nullopt)->value());
        QNetworkReply *reply = f.client->session()->get(QNetworkRequest(link));
        QVERIFY(QTest::qWaitFor([&] { return reply->isFinished(); }, 10'000));
        const QString page = QString::fromUtf8(reply->readAll());
        for (const QString &shown : {u"<table>"_s, u"<td>2</td>"_s, u"<code>int a = 1 &lt; 2;"_s,
                                     u"<span class=\"math\" data-display=\"0\">e^{i\\pi}+1=0</span>"_s,
                                     u"<a>x</a>"_s, u"<img src=x>"_s})
            QVERIFY2(page.contains(shown), qPrintable(shown));
        QVERIFY(!page.contains(u"<script"_s) && !page.contains(u"onerror"_s) &&
                !page.contains(u"javascript:"_s));
        QVERIFY(reply->rawHeader("content-security-policy").startsWith("default-src 'none'"));
        reply->deleteLater();
    }
};

QTEST_GUILESS_MAIN(TestPublishService)
#include "tst_publishservice.moc"
