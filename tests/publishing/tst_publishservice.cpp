#include "PublishingFixture.h"

#include "store/Persistence.h"
#include "store/SaveScheduler.h"

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

    APIResult<QString> publish(const std::optional<QString> &slug)
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
        QTest::newRow("digits and inner hyphens") << u"my-post-2"_s << true;
        QTest::newRow("sixty") << QString(60, u'a') << true;
        QTest::newRow("one character") << u"a"_s << false;
        QTest::newRow("double hyphen") << u"a--b"_s << false;
        QTest::newRow("upper case") << u"My-post"_s << false;
        QTest::newRow("accent") << u"caf\u00e9"_s << false;
    }
    void slugRule()
    {
        QFETCH(QString, slug);
        QTEST(PublishService::isValidSlug(slug), "valid");
    }

    void publishBody()
    {
        Document doc;
        doc.body = u"Hi"_s;
        QCOMPARE(PublishService::publishBody(doc), u"Hi"_s);
        doc.frontmatter.title = u"T"_s;
        doc.overrides = {u"title"_s};
        QCOMPARE(PublishService::publishBody(doc), u"---\ntitle: T\n---\n\nHi"_s);
        doc.body.clear();
        QCOMPARE(PublishService::publishBody(doc), u"---\ntitle: T\n---\n"_s);
    }

    // The slug the service answers with is stored, whatever was asked; it
    // reaches state.json with the state save and marks nothing dirty.
    void firstPublish_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("stored");
        QTest::newRow("random") << QString() << QString();
        QTest::newRow("custom") << u"fresh-post"_s << u"fresh-post"_s;
        QTest::newRow("custom, taken by the row before") << u"fresh-post"_s << u"fresh-post-2"_s;
    }
    void firstPublish()
    {
        QFETCH(QString, asked);
        QFETCH(QString, stored);
        const QStringList dirty = f.store->state().dirtyDocumentIDs;
        const APIResult<QString> result = publish(asked.isEmpty() ? std::nullopt : std::optional(asked));
        QVERIFY(result.ok() && (stored.isEmpty() || result.value() == stored));
        QCOMPARE(f.store->publishedSlug(m_doc.id), result.value());
        const QJsonObject sent = QJsonDocument::fromJson(f.log().value(0).body).object();
        QCOMPARE(sent.contains(u"slug"_s), !asked.isEmpty());
        QCOMPARE(f.store->state().dirtyDocumentIDs, dirty);

        f.saveClock.advance(SaveScheduler::wholeFileDelayMs);
        f.store->waitForWrites();
        QCOMPARE(Persistence::loadState(f.dir.filePath(u"base"_s)).publishedSlugs.value(m_doc.id),
                 result.value());
    }

    // Update: 403 and 404 mean the link is no longer this document's, so it
    // is forgotten with a message saying so. Unpublish: a page already gone
    // counts as taken down. Anything else keeps the slug.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("message");
        const QString lost = PublishService::linkLostMessage();
        QTest::newRow("update") << "PUT"_ba << 0 << true << QString();
        QTest::newRow("update of a page taken down elsewhere") << "PUT"_ba << 404 << false << lost;
        QTest::newRow("update refused") << "PUT"_ba << 403 << false << lost;
        QTest::newRow("update fault") << "PUT"_ba << 500 << true << u"Request failed (500)."_s;
        QTest::newRow("unpublish") << "DELETE"_ba << 0 << false << QString();
        QTest::newRow("unpublish of a missing page") << "DELETE"_ba << 404 << false << QString();
        QTest::newRow("unpublish fault") << "DELETE"_ba << 500 << true << u"Request failed (500)."_s;
    }
    void replies()
    {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        const QString slug = publish(std::nullopt).value();
        if (status == 404) // really gone, through another device
            QVERIFY(f.outcome(f.service().unpublish(u"elsewhere"_s, slug)).ok());
        else if (status)
            f.server->hooks().forceReply(method, u"/api/v1/published/"_s + slug, 1,
                                         ScriptedReply{status, {}, {}});
        f.server->hooks().clearRequestLog();

        const APIResult<QString> result = f.outcome(method == "PUT" ? f.service().update(m_doc, slug)
                                                                    : f.service().unpublish(m_doc.id, slug));
        QTEST(result.ok() ? QString() : result.failure().description(), "message");
        QTEST(f.store->publishedSlug(m_doc.id).has_value(), "kept");
        const LoggedRequest sent = f.log().value(0);
        QCOMPARE(sent.method, method);
        QCOMPARE(sent.hasHeader("content-type"), method == "PUT");
        QVERIFY(!QJsonDocument::fromJson(sent.body).object().contains(u"slug"_s));
    }

    // A slug read back from state.json is one path segment in every URL,
    // whatever it holds.
    void hostileSlugStaysOneSegment()
    {
        const QString hostile = u"../../api/v1/me?x=1#y"_s;
        f.store->setPublishedSlug(hostile, m_doc.id);
        f.store->flushPendingSaves();
        QVERIFY(f.openStore());

        QCOMPARE(f.service().publicLink(hostile).toString(QUrl::FullyEncoded),
                 f.client->baseURL().toString() + u"/p/..%2F..%2Fapi%2Fv1%2Fme%3Fx%3D1%23y/"_s);
        f.outcome(f.service().update(*f.store->document(m_doc.id), hostile));
        f.outcome(f.service().unpublish(m_doc.id, hostile));
        QCOMPARE(f.log().size(), 2);
        for (const LoggedRequest &sent : f.log())
            QVERIFY(sent.path == u"/api/v1/published/"_s + hostile && !sent.hadQuery);

        // Dots alone would be resolved away: nothing is sent, the page
        // counts as gone.
        QVERIFY(!f.service().publicLink(u".."_s).isValid());
        f.store->setPublishedSlug(u".."_s, m_doc.id);
        QVERIFY(f.outcome(f.service().unpublish(m_doc.id, u".."_s)).ok());
        QVERIFY(f.log().size() == 2 && !f.store->publishedSlug(m_doc.id));
    }

    // What a browser gets at the link: the document's math, code and table,
    // and none of its scripts.
    void publicPageReads()
    {
        m_doc = f.store->createDocument(
            std::nullopt,
            u"# Page\n\nEuler: $e^{i\\pi}+1=0$\n\n```cpp\nint a = 1 < 2;\n```\n\n| a | b |\n|---|---|\n| 1 | "
            u"2 "
            "|\n\n<script>alert(1)</script>\n<img src=x onerror=alert(2)> [x](javascript:alert(3))\n"_s);
        QNetworkReply *reply =
            f.client->session()->get(QNetworkRequest(f.service().publicLink(publish({}).value())));
        QVERIFY(QTest::qWaitFor([&] { return reply->isFinished(); }, TestWaits::limitMs));
        const QString page = QString::fromUtf8(reply->readAll());
        for (const QString &shown : {u"<td>2</td>"_s, u"<code>int a = 1 &lt; 2;"_s,
                                     u"<span class=\"math\" data-display=\"0\">e^{i\\pi}+1=0</span>"_s,
                                     u"<a>x</a>"_s, u"<img src=x>"_s})
            QVERIFY2(page.contains(shown), qPrintable(shown));
        QVERIFY(!page.contains(u"<script"_s) && !page.contains(u"onerror"_s) &&
                !page.contains(u"javascript:"_s));
        QVERIFY(reply->rawHeader("content-security-policy").startsWith("default-src 'none'"));
        delete reply;
    }
};

QTEST_GUILESS_MAIN(TestPublishService)
#include "tst_publishservice.moc"
