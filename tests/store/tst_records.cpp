#include "store/Collection.h"
#include "store/Document.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QJsonObject object(const char *json)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(json), &error);
    if (error.error != QJsonParseError::NoError) {
        qFatal("bad test JSON: %s", json);
    }
    return doc.object();
}

QStringList sortedKeys(const QJsonObject &o)
{
    QStringList keys = o.keys();
    keys.sort();
    return keys;
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void documentDecodesMinimalObject();
    void documentDecodeFailures_data();
    void documentDecodeFailures();
    void documentRoundTripKeepsEveryField();
    void documentIgnoresUnknownKeysAndReadsNulls();
    void displayTitle_data();
    void displayTitle();
    void collectionParentKnown_data();
    void collectionParentKnown();
    void collectionDefaultsAndFailures_data();
    void collectionDefaultsAndFailures();
    void frontmatterJson();
};

void TestRecords::documentDecodesMinimalObject()
{
    const auto doc = Document::fromJson(object(R"({"id":"a","createdAt":5,"updatedAt":6})"));
    QVERIFY(doc);
    QCOMPARE(doc->id, u"a"_s);
    QCOMPARE(doc->title, QString());
    QCOMPARE(doc->body, QString());
    QVERIFY(doc->frontmatter.isEmpty());
    QVERIFY(doc->overrides.isEmpty());
    QCOMPARE(doc->createdAt, 5);
    QCOMPARE(doc->updatedAt, 6);
    QVERIFY(!doc->deletedAt);
    QVERIFY(!doc->collectionId);
    QVERIFY(!doc->serverUpdatedAt);

    const QJsonObject out = doc->toJson();
    QCOMPARE(sortedKeys(out),
             (QStringList{u"body"_s, u"collectionId"_s, u"createdAt"_s, u"deletedAt"_s, u"frontmatter"_s,
                          u"id"_s, u"overrides"_s, u"title"_s, u"updatedAt"_s}));
    QVERIFY(out.value(u"deletedAt").isNull());
    QVERIFY(out.value(u"collectionId").isNull());
    QCOMPARE(out.value(u"frontmatter").toObject(), QJsonObject());
    QCOMPARE(out.value(u"overrides").toArray(), QJsonArray());
}

void TestRecords::documentDecodeFailures_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("missing id") << QByteArray(R"({"createdAt":1,"updatedAt":1})");
    QTest::newRow("null id") << QByteArray(R"({"id":null,"createdAt":1,"updatedAt":1})");
    QTest::newRow("missing createdAt") << QByteArray(R"({"id":"a","updatedAt":1})");
    QTest::newRow("updatedAt as string") << QByteArray(R"({"id":"a","createdAt":1,"updatedAt":"1"})");
    QTest::newRow("updatedAt with fraction") << QByteArray(R"({"id":"a","createdAt":1,"updatedAt":1.5})");
    QTest::newRow("title as number") << QByteArray(R"({"id":"a","title":3,"createdAt":1,"updatedAt":1})");
    QTest::newRow("overrides holding a number")
        << QByteArray(R"({"id":"a","overrides":["title",1],"createdAt":1,"updatedAt":1})");
    QTest::newRow("frontmatter as array")
        << QByteArray(R"({"id":"a","frontmatter":[],"createdAt":1,"updatedAt":1})");
    QTest::newRow("frontmatter tags as string")
        << QByteArray(R"({"id":"a","frontmatter":{"tags":"x"},"createdAt":1,"updatedAt":1})");
    QTest::newRow("frontmatter draft as string")
        << QByteArray(R"({"id":"a","frontmatter":{"draft":"true"},"createdAt":1,"updatedAt":1})");
    QTest::newRow("deletedAt as bool")
        << QByteArray(R"({"id":"a","createdAt":1,"updatedAt":1,"deletedAt":true})");
    QTest::newRow("collectionId as number")
        << QByteArray(R"({"id":"a","createdAt":1,"updatedAt":1,"collectionId":7})");
    QTest::newRow("serverUpdatedAt as string")
        << QByteArray(R"({"id":"a","createdAt":1,"updatedAt":1,"serverUpdatedAt":"9"})");
}

void TestRecords::documentDecodeFailures()
{
    QFETCH(QByteArray, json);
    QString error;
    QVERIFY(!Document::fromJson(object(json.constData()), &error));
    QVERIFY(!error.isEmpty());
}

void TestRecords::documentRoundTripKeepsEveryField()
{
    Document d;
    d.id = u"doc-1"_s;
    d.title = u"T\u00e9"_s;
    d.body = u"line\n\"quoted\" \\ \u2028"_s;
    d.frontmatter.title = u"FM"_s;
    d.frontmatter.tags = QStringList{u"a"_s, u"b"_s};
    d.frontmatter.draft = true;
    d.overrides = {u"title"_s, u"tags"_s};
    d.createdAt = std::numeric_limits<qint64>::min();
    d.updatedAt = std::numeric_limits<qint64>::max();
    d.deletedAt = Q_INT64_C(9007199254740993);
    d.collectionId = u"c"_s;
    d.serverUpdatedAt = 0;

    const QByteArray bytes = QJsonDocument(d.toJson()).toJson(QJsonDocument::Compact);
    const auto back = Document::fromJson(QJsonDocument::fromJson(bytes).object());
    QVERIFY(back);
    QCOMPARE(*back, d);
    // A present server stamp is written even when it is zero.
    QVERIFY(d.toJson().contains(u"serverUpdatedAt"));
}

void TestRecords::documentIgnoresUnknownKeysAndReadsNulls()
{
    const auto doc = Document::fromJson(object(
        R"({"id":"a","createdAt":1,"updatedAt":2,"title":null,"body":null,"frontmatter":null,"overrides":null,
            "deletedAt":null,"collectionId":null,"serverUpdatedAt":null,"extra":{"x":[1,2]},"isPinned":true})"));
    QVERIFY(doc);
    QCOMPARE(doc->title, QString());
    QVERIFY(doc->frontmatter.isEmpty());
    QVERIFY(!doc->serverUpdatedAt);
    QVERIFY(!doc->toJson().contains(u"extra"));
}

void TestRecords::displayTitle_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<std::optional<QString>>("frontmatterTitle");
    QTest::addColumn<QStringList>("overrides");
    QTest::addColumn<QString>("expected");
    const QStringList titleOverride{u"title"_s};
    QTest::newRow("front-matter title when overridden")
        << u"Derived"_s << std::optional<QString>(u"From FM"_s) << titleOverride << u"From FM"_s;
    QTest::newRow("front-matter title ignored without override")
        << u"Derived"_s << std::optional<QString>(u"From FM"_s) << QStringList() << u"Derived"_s;
    QTest::newRow("override must be exactly 'title'")
        << u"Derived"_s << std::optional<QString>(u"From FM"_s) << QStringList{u"Title"_s} << u"Derived"_s;
    QTest::newRow("empty front-matter title falls back")
        << u"Derived"_s << std::optional<QString>(QString()) << titleOverride << u"Derived"_s;
    QTest::newRow("absent front-matter title falls back")
        << u"Derived"_s << std::optional<QString>() << titleOverride << u"Derived"_s;
    QTest::newRow("nothing at all") << QString() << std::optional<QString>(QString()) << titleOverride
                                    << u"Untitled"_s;
    QTest::newRow("front-matter title shown as stored")
        << u"D"_s << std::optional<QString>(u"  spaced  "_s) << titleOverride << u"  spaced  "_s;
}

void TestRecords::displayTitle()
{
    QFETCH(QString, title);
    QFETCH(std::optional<QString>, frontmatterTitle);
    QFETCH(QStringList, overrides);
    QFETCH(QString, expected);
    Document d;
    d.title = title;
    d.frontmatter.title = frontmatterTitle;
    d.overrides = overrides;
    QCOMPARE(d.displayTitle(), expected);
}

void TestRecords::collectionParentKnown_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("parentKnown");
    QTest::addColumn<std::optional<QString>>("parentId");
    QTest::addColumn<bool>("writesParentId");
    QTest::newRow("no parentId key") << QByteArray(R"({"id":"c","createdAt":1,"updatedAt":1})") << false
                                     << std::optional<QString>() << false;
    QTest::newRow("parentId null") << QByteArray(R"({"id":"c","parentId":null,"createdAt":1,"updatedAt":1})")
                                   << true << std::optional<QString>() << true;
    QTest::newRow("parentId set") << QByteArray(R"({"id":"c","parentId":"p","createdAt":1,"updatedAt":1})")
                                  << true << std::optional<QString>(u"p"_s) << true;
}

void TestRecords::collectionParentKnown()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, parentKnown);
    QFETCH(std::optional<QString>, parentId);
    QFETCH(bool, writesParentId);
    const auto c = Collection::fromJson(object(json.constData()));
    QVERIFY(c);
    QCOMPARE(c->parentKnown, parentKnown);
    QCOMPARE(c->parentId, parentId);
    const QJsonObject out = c->toJson();
    QCOMPARE(out.contains(u"parentId"), writesParentId);
    if (writesParentId && !parentId) {
        QVERIFY(out.value(u"parentId").isNull());
    }
    QVERIFY(out.contains(u"deletedAt"));
    QVERIFY(out.value(u"deletedAt").isNull());
    QVERIFY(!out.contains(u"serverUpdatedAt"));
    QVERIFY(!out.contains(u"parentKnown"));
    // Decoding what was written gives the same record back.
    QCOMPARE(Collection::fromJson(out), c);
}

void TestRecords::collectionDefaultsAndFailures_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("decodes");
    QTest::newRow("defaults") << QByteArray(R"({"id":"c","createdAt":1,"updatedAt":1})") << true;
    QTest::newRow("nulls give defaults")
        << QByteArray(R"({"id":"c","name":null,"position":null,"createdAt":1,"updatedAt":1})") << true;
    QTest::newRow("missing updatedAt") << QByteArray(R"({"id":"c","createdAt":1})") << false;
    QTest::newRow("position as string")
        << QByteArray(R"({"id":"c","position":"1","createdAt":1,"updatedAt":1})") << false;
    QTest::newRow("parentId as number")
        << QByteArray(R"({"id":"c","parentId":4,"createdAt":1,"updatedAt":1})") << false;
    QTest::newRow("name as array") << QByteArray(R"({"id":"c","name":[],"createdAt":1,"updatedAt":1})")
                                   << false;
}

void TestRecords::collectionDefaultsAndFailures()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, decodes);
    const auto c = Collection::fromJson(object(json.constData()));
    QCOMPARE(c.has_value(), decodes);
    if (c) {
        QCOMPARE(c->name, QString());
        QCOMPARE(c->position, 0);
    }
}

void TestRecords::frontmatterJson()
{
    QCOMPARE(QJsonDocument(Frontmatter().toJson()).toJson(QJsonDocument::Compact), QByteArray("{}"));
    Frontmatter f;
    f.slug = u"s"_s;
    f.draft = false;
    f.tags = QStringList();
    const QJsonObject out = f.toJson();
    QCOMPARE(sortedKeys(out), (QStringList{u"draft"_s, u"slug"_s, u"tags"_s}));
    QCOMPARE(Frontmatter::fromJson(out), f);
    const auto read = Frontmatter::fromJson(object(R"({"title":null,"date":"2024-01-05","other":1})"));
    QVERIFY(read);
    QVERIFY(!read->title);
    QCOMPARE(read->date, std::optional<QString>(u"2024-01-05"_s));
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
