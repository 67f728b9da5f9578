#include "protocol/WireRecords.h"

#include "RandomRecords.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// "decoded", or the fault that failed the record.
template <typename T>
QString outcome(const QByteArray &json)
{
    QString error;
    return T::fromJson(QJsonDocument::fromJson(json).object(), &error) ? u"decoded"_s : error;
}

} // namespace

class TestWireRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void strictDecoding_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected"); // "decoded" or a piece of the fault
        const QByteArray user = R"({"user":{"id":"u","email":"e","name":"n")";
        const QByteArray doc = R"({"id":"d1","createdAt":1,"updatedAt":2})";
        QTest::newRow("me: site null") << outcome<MeResponse>(user + R"(},"site":null})") << u"decoded"_s;
        QTest::newRow("me: no user") << outcome<MeResponse>(R"({"site":{"handle":"h"}})")
                                     << u"'user' is missing"_s;
        QTest::newRow("me: bad isAdmin") << outcome<MeResponse>(user + R"(,"isAdmin":1}})") << u"user: "_s;
        QTest::newRow("me: site without handle")
            << outcome<MeResponse>(user + R"(},"site":{}})") << u"site: "_s;
        QTest::newRow("pull: no collections")
            << outcome<SyncPullResponse>(R"({"documents":[)" + doc + R"(],"now":5})") << u"decoded"_s;
        QTest::newRow("pull: no now")
            << outcome<SyncPullResponse>(R"({"documents":[]})") << u"'now' is missing"_s;
        QTest::newRow("pull: bad document names its index")
            << outcome<SyncPullResponse>(R"({"documents":[)" + doc + R"(,{"id":"d2"}],"now":1})")
            << u"documents[1]"_s;
        QTest::newRow("pull: bad collection")
            << outcome<SyncPullResponse>(R"({"documents":[],"collections":[{"id":7}],"now":1})")
            << u"collections[0]"_s;
        QTest::newRow("push: result without id")
            << outcome<SyncPushResponse>(R"({"results":[{"status":"ok"}],"now":1})") << u"decoded"_s;
        QTest::newRow("push: result without status")
            << outcome<SyncPushResponse>(R"({"results":[{"id":"a"}],"now":1})") << u"results[0]"_s;
        QTest::newRow("publish: extra ignored")
            << outcome<PublishResponse>(R"({"slug":"s","url":"u","x":1})") << u"decoded"_s;
        QTest::newRow("publish: no url")
            << outcome<PublishResponse>(R"({"slug":"s"})") << u"'url' is missing"_s;
        const QByteArray image = R"({"id":"i","url":"http://x/i","filename":"a.png"})";
        QTest::newRow("images: bare image")
            << outcome<ImageListResponse>("{\"images\":[" + image + "]}") << u"decoded"_s;
        QTest::newRow("images: no list") << outcome<ImageListResponse>("{}") << u"'images' is missing"_s;
        QTest::newRow("images: bad size names its index")
            << outcome<ImageListResponse>("{\"images\":[" + image +
                                          R"(,{"id":"j","url":"u","filename":"f","size":"9"}]})")
            << u"images[1]"_s;
        QTest::newRow("images: no filename")
            << outcome<ImageListResponse>(R"({"images":[{"id":"i","url":"u"}]})") << u"images[0]"_s;
        QTest::newRow("upload: id and url are enough")
            << outcome<ImageUploadResponse>(R"({"id":"i","url":"u"})") << u"decoded"_s;
        QTest::newRow("upload: untracked not a boolean")
            << outcome<ImageUploadResponse>(R"({"id":"i","url":"u","untracked":"yes"})") << u"untracked"_s;
        QTest::newRow("ai: number") << outcome<AIRequestBody>(R"({"mode":"generate","prompt":1})")
                                    << u"'prompt' is not a string"_s;
        QTest::newRow("ai: absent members")
            << outcome<AIRequestBody>(R"({"mode":"generate"})") << u"decoded"_s;
    }

    void strictDecoding()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QVERIFY2(actual.contains(expected), qPrintable(actual));
    }

    // What one side writes, the other reads back unchanged.
    void encodedRecordsDecode()
    {
        const MeResponse me{{u"u"_s, u"e@x"_s, u"N"_s, std::nullopt, true},
                            MeResponse::Site{u"Ann"_s, u"T"_s}};
        QCOMPARE(MeResponse::fromJson(me.toJson())->user, me.user);
        QCOMPARE(MeResponse::fromJson(me.toJson())->site, me.site);
        QVERIFY(!MeResponse::fromJson(MeResponse{me.user, std::nullopt}.toJson())->site);

        const SyncPushResponse push{{{u"a"_s, u"ok"_s, std::nullopt}, {std::nullopt, u"invalid"_s, u"why"_s}},
                                    QList<SyncPushResponse::Result>{{u"c"_s, u"stale"_s, std::nullopt}},
                                    42};
        const std::optional<SyncPushResponse> readPush = SyncPushResponse::fromJson(push.toJson());
        QVERIFY(readPush);
        QCOMPARE(readPush->results, push.results);
        QCOMPARE(readPush->collectionResults, push.collectionResults);
        QCOMPARE(readPush->now, 42);

        for (const std::optional<QString> &slug : {std::optional<QString>(), std::optional(u"my-post"_s)}) {
            const PublishRequest publish{u"T"_s, u"B"_s, slug};
            const std::optional<PublishRequest> read = PublishRequest::fromJson(publish.toJson());
            QVERIFY(read);
            QCOMPARE(read->slug, slug);
        }
        QCOMPARE(PublishResponse::fromJson(PublishResponse{u"s"_s, u"u"_s}.toJson())->url, u"u"_s);

        const ImageAsset bare{u"i"_s, u"http://x/i"_s, u"a.png"_s, std::nullopt, std::nullopt, std::nullopt};
        const ImageAsset full{u"j"_s, u"http://x/j"_s, u"b.jpg"_s, u"image/jpeg"_s, 9, 1700000000000};
        const std::optional<ImageListResponse> list =
            ImageListResponse::fromJson(ImageListResponse{{full, bare}}.toJson());
        QVERIFY(list);
        QCOMPARE(list->images, (QList<ImageAsset>{full, bare}));
        const std::optional<ImageUploadResponse> upload =
            ImageUploadResponse::fromJson(ImageUploadResponse::of(full).toJson());
        QVERIFY(upload);
        QCOMPARE(upload->filename, full.filename);
        QCOMPARE(upload->size, full.size);
        QCOMPARE(upload->createdAt, full.createdAt);
        QVERIFY(!upload->untracked);

        const AIRequestBody refine{
            AIRequestBody::refineMode, u"custom"_s, u"shorter"_s, u"T"_s, u"b"_s, u""_s};
        QCOMPARE(AIRequestBody::fromJson(refine.toJson()), refine);
        const AIRequestBody generate{AIRequestBody::generateMode, {}, u"a poem"_s, {}, u""_s, u"a"_s};
        QCOMPARE(generate.toJson().keys(), (QStringList{u"after"_s, u"before"_s, u"mode"_s, u"prompt"_s}));
        QCOMPARE(AIRequestBody::fromJson(generate.toJson()), generate);

        const ErrorBody error{u"too_large"_s, u"Too big."_s};
        QCOMPARE(ErrorBody::fromJson(QJsonDocument::fromJson(error.encoded()).object())->code, error.code);
        QCOMPARE(ErrorBody::fromJson(error.toJson())->message, error.message);
    }

    void pushedRecordProblems_data()
    {
        QTest::addColumn<bool>("isCollection");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("problem"); // empty, or a piece of the refusal
        QTest::newRow("plain document")
            << false << R"({"id":"d","createdAt":1,"updatedAt":2})"_ba << QString();
        QTest::newRow("updatedAt 1e300")
            << false << R"({"id":"d","createdAt":1,"updatedAt":1e300})"_ba << u"'updatedAt'"_s;
        QTest::newRow("updatedAt 2^63")
            << false << R"({"id":"d","createdAt":1,"updatedAt":9223372036854775808})"_ba << u"'updatedAt'"_s;
        QTest::newRow("updatedAt -9.3e18")
            << false << R"({"id":"d","createdAt":1,"updatedAt":-9.3e18})"_ba << u"'updatedAt'"_s;
        QTest::newRow("updatedAt -2^63 fits")
            << false << R"({"id":"d","createdAt":1,"updatedAt":-9223372036854775808})"_ba << QString();
        QTest::newRow("overrides not strings")
            << false << R"({"id":"d","createdAt":1,"updatedAt":2,"overrides":{"title":true}})"_ba
            << u"'overrides'"_s;
        QTest::newRow("frontmatter draft a string")
            << false << R"({"id":"d","createdAt":1,"updatedAt":2,"frontmatter":{"draft":"yes"}})"_ba
            << u"'frontmatter'"_s;
        QTest::newRow("empty id") << false << R"({"id":"","createdAt":1,"updatedAt":2})"_ba << u"id"_s;
        QTest::newRow("id of 257 bytes")
            << false << "{\"id\":\"" + QByteArray(257, 'i') + "\",\"createdAt\":1,\"updatedAt\":2}"
            << u"id longer"_s;
        QTest::newRow("not an object") << false << R"("doc")"_ba << u"not an object"_s;
        QTest::newRow("collection position 1.5")
            << true << R"({"id":"c","createdAt":1,"updatedAt":2,"position":1.5})"_ba << u"'position'"_s;
        QTest::newRow("collection parentId number")
            << true << R"({"id":"c","createdAt":1,"updatedAt":2,"parentId":4})"_ba << u"'parentId'"_s;
        QTest::newRow("plain collection")
            << true << R"({"id":"c","createdAt":1,"updatedAt":2,"parentId":null})"_ba << QString();
    }

    void pushedRecordProblems()
    {
        QFETCH(bool, isCollection);
        QFETCH(QByteArray, record);
        QFETCH(QString, problem);
        // Wrapped in a list so that a bare string parses too.
        const QJsonValue value = QJsonDocument::fromJson("[" + record + "]").array().at(0);
        const QString actual = isCollection ? SyncPushRequest::collectionProblem(value)
                                            : SyncPushRequest::documentProblem(value);
        if (problem.isEmpty())
            QVERIFY2(actual.isEmpty(), qPrintable(actual));
        else
            QVERIFY2(!actual.isEmpty() && actual.contains(problem), qPrintable(actual));
    }

    // Whatever the app writes, through a JSON text and back, passes.
    void everyEncodedRecordPasses()
    {
        RandomRecords random(20261207);
        for (int i = 0; i < 2000; ++i) {
            const QJsonObject document = random.document().toJson();
            const QJsonObject collection = random.collection().toJson();
            const QJsonArray sent =
                QJsonDocument::fromJson(QJsonDocument(QJsonArray{document, collection}).toJson()).array();
            QCOMPARE(SyncPushRequest::documentProblem(sent.at(0)), QString());
            QCOMPARE(SyncPushRequest::collectionProblem(sent.at(1)), QString());
        }
    }
};

QTEST_GUILESS_MAIN(TestWireRecords)
#include "tst_wirerecords.moc"
