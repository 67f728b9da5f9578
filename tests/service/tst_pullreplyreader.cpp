// The record-at-a-time pull decoder must read exactly what the plain
// decoder reads, and fail with the same words.
#include "service/core/APIClient.h"
#include "service/core/PullReplyReader.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestPullReplyReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsWhatThePlainDecoderReads_data()
    {
        QTest::addColumn<QByteArray>("body");
        const QByteArray doc = R"({"id":"a","body":"x","createdAt":1,"updatedAt":2,"serverUpdatedAt":3})";
        QTest::newRow("empty lists") << QByteArray(R"({"documents":[],"collections":[],"now":5})");
        QTest::newRow("records") << QByteArray(
            R"({"documents":[)" + doc + "," + doc + R"(],"collections":[)" +
            R"({"id":"c","name":"C","createdAt":1,"updatedAt":1}],"now":5})");
        QTest::newRow("no collections") << QByteArray(R"({"now":5,"documents":[)" + doc + "]}");
        QTest::newRow("null collections") << QByteArray(R"({"documents":[],"collections":null,"now":5})");
        QTest::newRow("spaces, escapes, brackets in text")
            << QByteArray(" {\n \"documents\" : [ {\"id\":\"q\\\"[{\",\"body\":\"]}\\\\\",\"frontmatter\":"
                          "{\"tags\":[\"a\",{\"b\":[1,2]}]},\"createdAt\":1,\"updatedAt\":2} ] ,\n"
                          " \"extra\":{\"x\":[true,null,-1.5e3]}, \"now\" : 7 } ");
        QTest::newRow("escaped key") << QByteArray(R"({"docu\u006dents":[],"now":5})");
        QTest::newRow("documents missing") << QByteArray(R"({"now":5})");
        QTest::newRow("documents not a list") << QByteArray(R"({"documents":{},"now":5})");
        QTest::newRow("bad record") << QByteArray(R"({"documents":[)" + doc + R"(,{"id":7}],"now":5})");
        QTest::newRow("record not an object") << QByteArray(R"({"documents":[1],"now":5})");
        QTest::newRow("cut short") << QByteArray(R"({"documents":[)" + doc);
        QTest::newRow("trailing garbage") << QByteArray(R"({"documents":[],"now":5} x)");
        QTest::newRow("not an object") << QByteArray("[]");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("now missing") << QByteArray(R"({"documents":[]})");
    }

    void readsWhatThePlainDecoderReads()
    {
        QFETCH(QByteArray, body);
        const APIResult<SyncPullResponse> expected = APIClient::decodeBody<SyncPullResponse>(body);
        const APIResult<SyncPullResponse> read = PullReplyReader::decode(body);
        QCOMPARE(bool(read), bool(expected));
        if (!expected) {
            QCOMPARE(read.failure().description(), expected.failure().description());
            return;
        }
        QCOMPARE(read->documents, expected->documents);
        QCOMPARE(read->collections, expected->collections);
        QCOMPARE(read->now, expected->now);
    }
};

QTEST_GUILESS_MAIN(TestPullReplyReader)
#include "tst_pullreplyreader.moc"
