#include "service/core/WireRecords.h"

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
    }

    void strictDecoding()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QVERIFY2(actual.contains(expected), qPrintable(actual));
    }
};

QTEST_GUILESS_MAIN(TestWireRecords)
#include "tst_wirerecords.moc"
