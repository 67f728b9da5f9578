#include "service/core/WireRecords.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

// Decodes `json` as the record named by `kind`; the fault when it fails.
std::optional<QString> decodeFault(const QString &kind, const QByteArray &json)
{
    QString error;
    bool ok = false;
    if (kind == u"me")
        ok = MeResponse::fromJson(object(json), &error).has_value();
    else if (kind == u"pull")
        ok = SyncPullResponse::fromJson(object(json), &error).has_value();
    else if (kind == u"push")
        ok = SyncPushResponse::fromJson(object(json), &error).has_value();
    else
        ok = PublishResponse::fromJson(object(json), &error).has_value();
    return ok ? std::nullopt : std::optional(error);
}

const QByteArray doc = R"({"id":"d1","createdAt":1,"updatedAt":2})";

} // namespace

class TestWireRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void strictDecoding_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("json");
        // Empty: decodes; else a piece of the fault's text.
        QTest::addColumn<QString>("fault");

        const QByteArray user = R"("user":{"id":"u","email":"e","name":"n")";
        QTest::newRow("me: minimal, site null") << u"me"_s << "{" + user + R"(},"site":null})" << QString();
        QTest::newRow("me: extra members ignored")
            << u"me"_s << "{" + user + R"(,"x":[1]},"y":{}})" << QString();
        QTest::newRow("me: no user") << u"me"_s << R"({"site":{"handle":"h"}})"_ba << u"'user' is missing"_s;
        QTest::newRow("me: null user") << u"me"_s << R"({"user":null})"_ba << u"'user' is null"_s;
        QTest::newRow("me: isAdmin not bool")
            << u"me"_s << "{" + user + R"(,"isAdmin":"yes"}})" << u"user: "_s;
        QTest::newRow("me: site without handle") << u"me"_s << "{" + user + R"(},"site":{}})" << u"site: "_s;
        QTest::newRow("pull: no collections")
            << u"pull"_s << R"({"documents":[)" + doc + R"(],"now":5})" << QString();
        QTest::newRow("pull: no now") << u"pull"_s << R"({"documents":[]})"_ba << u"'now' is missing"_s;
        QTest::newRow("pull: documents not a list")
            << u"pull"_s << R"({"documents":{},"now":1})"_ba << u"not a list"_s;
        QTest::newRow("pull: bad document names its index")
            << u"pull"_s << R"({"documents":[)" + doc + R"(,{"id":"d2"}],"now":1})" << u"documents[1]"_s;
        QTest::newRow("pull: bad collection")
            << u"pull"_s << R"({"documents":[],"collections":[{"id":7}],"now":1})"_ba << u"collections[0]"_s;
        QTest::newRow("pull: now not integer")
            << u"pull"_s << R"({"documents":[],"now":1.5})"_ba << u"'now'"_s;
        QTest::newRow("push: result without id")
            << u"push"_s << R"({"results":[{"status":"ok"}],"now":1})"_ba << QString();
        QTest::newRow("push: result without status")
            << u"push"_s << R"({"results":[{"id":"a"}],"now":1})"_ba << u"results[0]"_s;
        QTest::newRow("push: item not an object")
            << u"push"_s << R"({"results":["ok"],"now":1})"_ba << u"results[0]"_s;
        QTest::newRow("publish: both")
            << u"publish"_s << R"({"slug":"s","url":"u","extra":1})"_ba << QString();
        QTest::newRow("publish: no url") << u"publish"_s << R"({"slug":"s"})"_ba << u"'url' is missing"_s;
        QTest::newRow("publish: slug not string")
            << u"publish"_s << R"({"slug":1,"url":"u"})"_ba << u"'slug'"_s;
    }

    void strictDecoding()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, json);
        QFETCH(QString, fault);
        const std::optional<QString> actual = decodeFault(kind, json);
        if (fault.isEmpty())
            QVERIFY2(!actual, qPrintable(actual.value_or(QString())));
        else
            QVERIFY2(actual && actual->contains(fault), qPrintable(actual.value_or(u"decoded"_s)));
    }

    void optionalMembersStayDistinct()
    {
        const auto me =
            MeResponse::fromJson(object(R"({"user":{"id":"u","email":"e","name":"n","isAdmin":false}})"));
        QVERIFY(me);
        QCOMPARE(me->user.isAdmin, std::optional(false));
        QVERIFY(!me->user.image && !me->site);
        const auto pull = SyncPullResponse::fromJson(object(R"({"documents":[],"now":3})"));
        QVERIFY(pull && !pull->collections);
    }

    void writtenBodies()
    {
        QCOMPARE(QJsonDocument(SyncPushRequest{}.toJson()).toJson(QJsonDocument::Compact),
                 R"({"collections":[],"docs":[]})"_ba);
        QCOMPARE(PublishRequest({u"T"_s, u"B"_s, std::nullopt}).toJson().keys(),
                 QStringList({u"body"_s, u"title"_s}));
        QCOMPARE(PublishRequest({u"T"_s, u"B"_s, u"s"_s}).toJson().value(u"slug"), u"s"_s);
    }
};

QTEST_GUILESS_MAIN(TestWireRecords)
#include "tst_wirerecords.moc"
