#include "service/core/APIError.h"
#include "service/core/APIResult.h"

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
        row("object: empty code kept", R"({"error":{"code":"","message":"Odd."}})", 500, ": Odd.");
        row("object: empty code kept over 401", R"({"error":{"code":"","message":"Odd."}})", 401, ": Odd.");
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
    // Every view turns a failure into its text the same way: the service's
    // (or the client's) message first, the caller's own words for the rest.
    void userText_data()
    {
        QTest::addColumn<int>("kind"); // 0 api, 1 decoding, 2 cancelled
        QTest::addColumn<bool>("ownWords");
        QTest::addColumn<QString>("expected");
        QTest::newRow("error message, own words ignored") << 0 << true << u"Busy."_s;
        QTest::newRow("error message") << 0 << false << u"Busy."_s;
        QTest::newRow("unreadable reply, own words") << 1 << true << u"Image upload failed."_s;
        QTest::newRow("unreadable reply") << 1 << false << u"bad reply"_s;
        QTest::newRow("cancelled") << 2 << false << u"Cancelled."_s;
    }

    void userText()
    {
        QFETCH(int, kind);
        QFETCH(bool, ownWords);
        QFETCH(QString, expected);
        const APIFailure failure = kind == 0   ? APIFailure(APIError{u"busy"_s, u"Busy."_s, 503})
                                   : kind == 1 ? APIFailure::decoding(u"bad reply"_s)
                                               : APIFailure::cancelled();
        QCOMPARE(failure.userText(ownWords ? std::optional(u"Image upload failed."_s) : std::nullopt),
                 expected);
    }
};

QTEST_GUILESS_MAIN(TestAPIError)
#include "tst_apierror.moc"
