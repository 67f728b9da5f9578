#include "store/Collection.h"
#include "store/Document.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray minimalOut = R"({"body":"","collectionId":null,"createdAt":5,"deletedAt":null,)"
                              R"("frontmatter":{},"id":"a","overrides":[],"title":"","updatedAt":6})";

// Decodes `json` as a record; gives it encoded again, or "rejected" with a
// reason. What is written decodes to the same record.
template <typename Record>
QByteArray reencode(const QByteArray &json)
{
    QString error;
    const auto record = Record::fromJson(QJsonDocument::fromJson(json).object(), &error);
    if (!record) {
        return error.isEmpty() ? "rejected without a reason" : "rejected";
    }
    const QJsonObject out = record->toJson();
    if (Record::fromJson(out) != record) {
        return "does not round-trip";
    }
    return QJsonDocument(out).toJson(QJsonDocument::Compact);
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void documentJson_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray ok = R"("createdAt":1,"updatedAt":1})"; // completes a row left open
        QTest::newRow("minimal: nulls written, no server stamp")
            << QByteArray(R"({"id":"a","createdAt":5,"updatedAt":6})") << minimalOut;
        QTest::newRow("nulls read as absent, unknown keys dropped")
            << QByteArray(
                   R"({"id":"a","createdAt":5,"updatedAt":6,"title":null,"body":null,"frontmatter":null,)"
                   R"("overrides":null,"deletedAt":null,"collectionId":null,"serverUpdatedAt":null,)"
                   R"("extra":{"x":[1,2]},"isPinned":true})")
            << minimalOut;
        QTest::newRow("every field, exact 64-bit stamps, a zero server stamp kept")
            << QByteArray(
                   R"({"id":"d","title":"T","body":"b","frontmatter":{"title":"FM","tags":["a","b"],)"
                   R"("draft":true},"overrides":["title","tags"],"createdAt":-9223372036854775808,)"
                   R"("updatedAt":9223372036854775807,"deletedAt":9007199254740993,"collectionId":"c",)"
                   R"("serverUpdatedAt":0})")
            << QByteArray(R"({"body":"b","collectionId":"c","createdAt":-9223372036854775808,)"
                          R"("deletedAt":9007199254740993,"frontmatter":{"draft":true,"tags":["a","b"],)"
                          R"("title":"FM"},"id":"d","overrides":["title","tags"],"serverUpdatedAt":0,)"
                          R"("title":"T","updatedAt":9223372036854775807})");
        QTest::newRow("front matter: false and empty kept, null and unknown dropped")
            << QByteArray(R"({"id":"a","frontmatter":{"slug":"s","draft":false,"tags":[],"title":null,)"
                          R"("date":"2024-01-05","other":1},"createdAt":5,"updatedAt":6})")
            << QByteArray(minimalOut)
                   .replace("{},", R"({"date":"2024-01-05","draft":false,"slug":"s","tags":[]},)");
        const auto rejected = [&](const char *name, const QByteArray &json) {
            QTest::newRow(name) << (json.endsWith('}') ? json : json + ok) << QByteArray("rejected");
        };
        rejected("missing id", "{");
        rejected("null id", R"({"id":null,)");
        rejected("missing createdAt", R"({"id":"a","updatedAt":1})");
        rejected("updatedAt as string", R"({"id":"a","createdAt":1,"updatedAt":"1"})");
        rejected("updatedAt with fraction", R"({"id":"a","createdAt":1,"updatedAt":1.5})");
        rejected("title as number", R"({"id":"a","title":3,)");
        rejected("overrides holding a number", R"({"id":"a","overrides":["title",1],)");
        rejected("frontmatter as array", R"({"id":"a","frontmatter":[],)");
        rejected("frontmatter tags as string", R"({"id":"a","frontmatter":{"tags":"x"},)");
        rejected("frontmatter draft as string", R"({"id":"a","frontmatter":{"draft":"true"},)");
        rejected("deletedAt as bool", R"({"id":"a","deletedAt":true,)");
        rejected("collectionId as number", R"({"id":"a","collectionId":7,)");
        rejected("serverUpdatedAt as string", R"({"id":"a","serverUpdatedAt":"9",)");
    }

    void documentJson()
    {
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, expected);
        QCOMPARE(reencode<Document>(json), expected);
    }

    void collectionJson_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("expected");
        // A parent that was never stated is not written; a stated one, even none, is.
        QTest::newRow("no parentId key: defaults, parent left out")
            << QByteArray(R"({"id":"c","createdAt":1,"updatedAt":1})")
            << QByteArray(
                   R"({"createdAt":1,"deletedAt":null,"id":"c","name":"","position":0,"updatedAt":1})");
        QTest::newRow("nulls give defaults, parentId null kept")
            << QByteArray(
                   R"({"id":"c","name":null,"position":null,"parentId":null,"createdAt":1,"updatedAt":1})")
            << QByteArray(
                   R"({"createdAt":1,"deletedAt":null,"id":"c","name":"","parentId":null,"position":0,)"
                   R"("updatedAt":1})");
        QTest::newRow("parentId and server stamp")
            << QByteArray(R"({"id":"c","parentId":"p","serverUpdatedAt":4,"createdAt":1,"updatedAt":1})")
            << QByteArray(R"({"createdAt":1,"deletedAt":null,"id":"c","name":"","parentId":"p","position":0,)"
                          R"("serverUpdatedAt":4,"updatedAt":1})");
        QTest::newRow("missing updatedAt")
            << QByteArray(R"({"id":"c","createdAt":1})") << QByteArray("rejected");
        QTest::newRow("position as string")
            << QByteArray(R"({"id":"c","position":"1","createdAt":1,"updatedAt":1})")
            << QByteArray("rejected");
        QTest::newRow("parentId as number")
            << QByteArray(R"({"id":"c","parentId":4,"createdAt":1,"updatedAt":1})") << QByteArray("rejected");
        QTest::newRow("name as array")
            << QByteArray(R"({"id":"c","name":[],"createdAt":1,"updatedAt":1})") << QByteArray("rejected");
    }

    void collectionJson()
    {
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, expected);
        QCOMPARE(reencode<Collection>(json), expected);
    }

    void displayTitle_data()
    {
        QTest::addColumn<std::optional<QString>>("frontmatterTitle");
        QTest::addColumn<QStringList>("overrides");
        QTest::addColumn<QString>("expected");
        using T = std::optional<QString>;
        const QStringList title{u"title"_s};
        QTest::newRow("front-matter title when overridden") << T(u"From FM"_s) << title << u"From FM"_s;
        QTest::newRow("front-matter title ignored without override")
            << T(u"From FM"_s) << QStringList() << u"D"_s;
        QTest::newRow("override must be exactly 'title'")
            << T(u"From FM"_s) << QStringList{u"Title"_s} << u"D"_s;
        QTest::newRow("empty front-matter title falls back") << T(QString()) << title << u"D"_s;
        QTest::newRow("absent front-matter title falls back") << T() << title << u"D"_s;
        QTest::newRow("front-matter title shown as stored") << T(u"  spaced  "_s) << title << u"  spaced  "_s;
    }

    void displayTitle()
    {
        QFETCH(std::optional<QString>, frontmatterTitle);
        QFETCH(QStringList, overrides);
        QFETCH(QString, expected);
        Document d;
        d.title = u"D"_s;
        d.frontmatter.title = frontmatterTitle;
        d.overrides = overrides;
        QCOMPARE(d.displayTitle(), expected);
        d.title.clear();
        QCOMPARE(d.displayTitle(), expected == u"D"_s ? u"Untitled"_s : expected);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
