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
        QTest::addColumn<QString>("expected"); // "code: message"
        const auto row = [](const char *name, const char *body, int status, const char *expected) {
            QTest::newRow(name) << QByteArray(body) << status << QString::fromUtf8(expected);
        };
        row("fallback: empty 500", "", 500, "error: Request failed (500).");
        row("fallback: empty 401", "", 401, "unauthorized: Sign in to continue.");
        row("fallback: html 404", "<html>gone</html>", 404, "error: Not found.");
        row("fallback: array 413", R"([{"error":"x"}])", 413, "error: Too large.");
        row("fallback: bare string 403", R"("nope")", 403, "error: Request failed (403).");
        row("object: code and message, any status", R"({"error":{"code":"taken","message":"T."}})", 409,
            "taken: T.");
        row("object: its code wins over 401", R"({"error":{"code":"expired","message":"Old."}})", 401,
            "expired: Old.");
        row("object: empty", R"({"error":{}})", 400, "error: Request failed.");
        row("object: numeric code", R"({"error":{"code":5,"message":"Bad."}})", 400, "error: Bad.");
        row("string error: 401", R"({"error":"Expired"})", 401, "unauthorized: Expired");
        row("string error: 422", R"({"error":"Invalid"})", 422, "error: Invalid");
        row("string error: empty beats message", R"({"error":"","message":"M"})", 500, "error: ");
        row("message: numeric error ignored", R"({"error":3,"message":"Slow down"})", 429,
            "error: Slow down");
    }

    void fromReply()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, expected);
        const APIError error = APIError::from(body, status);
        QCOMPARE(u"%1: %2"_s.arg(error.code, error.message), expected);
        QCOMPARE(error.status, status);
    }
};

QTEST_GUILESS_MAIN(TestAPIError)
#include "tst_apierror.moc"
