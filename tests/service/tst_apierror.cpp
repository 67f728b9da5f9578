#include "service/core/APIError.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestAPIError : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fromReply_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");

        QTest::newRow("fallback: empty 500")
            << QByteArray() << 500 << u"error"_s << u"Request failed (500)."_s;
        QTest::newRow("fallback: empty 401")
            << QByteArray() << 401 << u"unauthorized"_s << u"Sign in to continue."_s;
        QTest::newRow("fallback: html 404") << "<html>gone</html>"_ba << 404 << u"error"_s << u"Not found."_s;
        QTest::newRow("fallback: array 413")
            << R"([{"error":"x"}])"_ba << 413 << u"error"_s << u"Too large."_s;
        QTest::newRow("fallback: null 404") << "null"_ba << 404 << u"error"_s << u"Not found."_s;
        QTest::newRow("fallback: bare string 403")
            << R"("nope")"_ba << 403 << u"error"_s << u"Request failed (403)."_s;
        QTest::newRow("fallback: object without text 503")
            << R"({"error":null,"message":7})"_ba << 503 << u"error"_s << u"Request failed (503)."_s;
        QTest::newRow("object: code and message kept, status ignored")
            << R"({"error":{"code":"slug_taken","message":"Taken."}})"_ba << 409 << u"slug_taken"_s
            << u"Taken."_s;
        QTest::newRow("object: code wins over 401")
            << R"({"error":{"code":"expired","message":"Old."}})"_ba << 401 << u"expired"_s << u"Old."_s;
        QTest::newRow("object: empty") << R"({"error":{}})"_ba << 400 << u"error"_s << u"Request failed."_s;
        QTest::newRow("object: numeric code")
            << R"({"error":{"code":5,"message":"Bad."}})"_ba << 400 << u"error"_s << u"Bad."_s;
        QTest::newRow("string error: 401")
            << R"({"error":"Expired"})"_ba << 401 << u"unauthorized"_s << u"Expired"_s;
        QTest::newRow("string error: 422")
            << R"({"error":"Invalid"})"_ba << 422 << u"error"_s << u"Invalid"_s;
        QTest::newRow("string error: empty beats message")
            << R"({"error":"","message":"M"})"_ba << 500 << u"error"_s << QString();
        QTest::newRow("message: numeric error ignored")
            << R"({"error":3,"message":"Slow down"})"_ba << 429 << u"error"_s << u"Slow down"_s;
    }

    void fromReply()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, code);
        QFETCH(QString, message);
        const APIError error = APIError::from(body, status);
        QCOMPARE(error.code, code);
        QCOMPARE(error.message, message);
        QCOMPARE(error.status, status);
    }
};

QTEST_GUILESS_MAIN(TestAPIError)
#include "tst_apierror.moc"
