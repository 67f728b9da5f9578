#include "RequestHead.h"

#include <QTest>

using namespace tessivo::server;

namespace {
constexpr qsizetype limit = 256;
// A head of exactly `size` bytes with its empty line.
QByteArray headOfSize(qsizetype size)
{
    const QByteArray start = "GET / HTTP/1.1\r\nhost: localhost\r\nx-pad: ";
    return start + QByteArray(size - start.size() - 4, 'p') + "\r\n\r\n";
}
} // namespace

class tst_RequestHead : public QObject
{
    Q_OBJECT

private slots:
    // Every rule a head is read by, with what it is refused with: the
    // status and message a client sees. Status 0: read; -1: awaited.
    void eachRuleHasItsAnswer_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("message");
        const QByteArray malformedRequest = "Malformed request.", malformedHeader = "Malformed header.",
                         malformedLength = "Malformed Content-Length.",
                         tooLarge = "Request headers are too large.";
        const auto post = [](const QByteArray &fields) {
            return "POST /api/v1/documents/sync HTTP/1.1\r\nhost: localhost\r\n" + fields + "\r\n";
        };
        // Completeness and size.
        QTest::newRow("no empty line yet")
            << QByteArray("GET / HTTP/1.1\r\nhost: localhost\r\n") << -1 << QByteArray();
        QTest::newRow("at the limit") << headOfSize(limit) << 0 << QByteArray();
        QTest::newRow("past the limit, ended") << headOfSize(limit + 1) << 431 << tooLarge;
        QTest::newRow("past the limit, unended") << headOfSize(limit + 10).chopped(4) << 431 << tooLarge;
        // Line ends.
        QTest::newRow("bare LF") << QByteArray("GET / HTTP/1.1\nhost: localhost\n\n") << 0 << QByteArray();
        QTest::newRow("CRLF and LF mixed")
            << QByteArray("GET / HTTP/1.1\nhost: localhost\r\n\r\n") << 0 << QByteArray();
        // The request line.
        QTest::newRow("two parts") << QByteArray("GET /\r\nhost: localhost\r\n\r\n") << 400
                                   << malformedRequest;
        QTest::newRow("two spaces") << QByteArray("GET  / HTTP/1.1\r\nhost: localhost\r\n\r\n") << 400
                                    << malformedRequest;
        QTest::newRow("an empty line first")
            << QByteArray("\r\nGET / HTTP/1.1\r\nhost: localhost\r\n\r\n") << 400 << malformedRequest;
        QTest::newRow("HTTP/1.") << QByteArray("GET / HTTP/1.\r\nhost: localhost\r\n\r\n") << 400
                                 << malformedRequest;
        QTest::newRow("HTTP/1.1x") << QByteArray("GET / HTTP/1.1x\r\nhost: localhost\r\n\r\n") << 400
                                   << malformedRequest;
        QTest::newRow("http/1.1") << QByteArray("GET / http/1.1\r\nhost: localhost\r\n\r\n") << 400
                                  << malformedRequest;
        QTest::newRow("HTTP/2.0") << QByteArray("GET / HTTP/2.0\r\nhost: localhost\r\n\r\n") << 505
                                  << QByteArray("Use HTTP/1.1.");
        QTest::newRow("HTTP/0.9") << QByteArray("GET / HTTP/0.9\r\n\r\n") << 505
                                  << QByteArray("Use HTTP/1.1.");
        QTest::newRow("HTTP/1.2") << QByteArray("GET / HTTP/1.2\r\nhost: localhost\r\n\r\n") << 0
                                  << QByteArray();
        QTest::newRow("absolute form with user info")
            << QByteArray("GET http://me@localhost/ HTTP/1.1\r\nhost: localhost\r\n\r\n") << 400
            << malformedRequest;
        QTest::newRow("absolute form with a NUL in its host")
            << QByteArray("GET http://local") + '\0' + "host/ HTTP/1.1\r\nhost: localhost\r\n\r\n"
            << 400 << malformedRequest;
        QTest::newRow("absolute form without a host")
            << QByteArray("GET http:///x HTTP/1.1\r\nhost: localhost\r\n\r\n") << 400 << malformedRequest;
        // Header fields.
        QTest::newRow("no colon") << QByteArray("GET / HTTP/1.1\r\nhost: localhost\r\nx-note\r\n\r\n") << 400
                                  << malformedHeader;
        QTest::newRow("empty name") << QByteArray("GET / HTTP/1.1\r\nhost: localhost\r\n: a\r\n\r\n") << 400
                                    << malformedHeader;
        QTest::newRow("space in a name")
            << QByteArray("GET / HTTP/1.1\r\nhost: localhost\r\nx note: a\r\n\r\n") << 400 << malformedHeader;
        QTest::newRow("space before the colon")
            << QByteArray("GET / HTTP/1.1\r\nhost : localhost\r\n\r\n") << 400 << malformedHeader;
        QTest::newRow("folded line") << QByteArray(
                                            "GET / HTTP/1.1\r\nhost: localhost\r\nx-note: a\r\n b\r\n\r\n")
                                     << 400 << malformedHeader;
        QTest::newRow("folded with a tab")
            << QByteArray("GET / HTTP/1.1\r\nhost: localhost\r\nx-note: a\r\n\tb\r\n\r\n") << 400
            << malformedHeader;
        QTest::newRow("NUL in a value")
            << QByteArray("GET / HTTP/1.1\r\nhost: localhost\r\nx-note: a") + '\0' + "b\r\n\r\n"
            << 400 << malformedHeader;
        QTest::newRow("bare CR in a value")
            << QByteArray("GET / HTTP/1.1\r\nhost: localhost\r\nx-note: a\rb\r\n\r\n") << 400
            << malformedHeader;
        QTest::newRow("DEL in a value")
            << QByteArray("GET / HTTP/1.1\r\nhost: localhost\r\nx-note: a\x7f\r\n\r\n") << 400
            << malformedHeader;
        QTest::newRow("tab and high bytes in a value")
            << QByteArray("GET / HTTP/1.1\r\nhost: localhost\r\nx-note: a\tb \xc3\xa9\r\n\r\n") << 0
            << QByteArray();
        // Host.
        QTest::newRow("HTTP/1.1 without Host")
            << QByteArray("GET / HTTP/1.1\r\n\r\n") << 400 << malformedHeader;
        QTest::newRow("HTTP/1.0 without Host") << QByteArray("GET / HTTP/1.0\r\n\r\n") << 0 << QByteArray();
        QTest::newRow("two Host") << QByteArray(
                                         "GET / HTTP/1.1\r\nhost: localhost\r\nHost: localhost\r\n\r\n")
                                  << 400 << malformedHeader;
        // How the body is framed.
        QTest::newRow("Transfer-Encoding alone") << post("transfer-encoding: chunked\r\n") << 411
                                                 << QByteArray("Send the body with a Content-Length.");
        QTest::newRow("Transfer-Encoding and Content-Length")
            << post("content-length: 2\r\ntransfer-encoding: chunked\r\n") << 400
            << QByteArray("Send either Transfer-Encoding or Content-Length, not both.");
        QTest::newRow("two Content-Length, alike")
            << post("content-length: 5\r\ncontent-length: 5\r\n") << 400 << malformedHeader;
        QTest::newRow("two Content-Length, apart")
            << post("content-length: 2\r\nContent-Length: 30\r\n") << 400 << malformedHeader;
        for (const char *value : {"+5", " +5", "", " ", "-5", "5, 5", "5,5", "5 5", "0x5", "5a", "٥", "1e3",
                                  "9223372036854775808", "99999999999999999999"}) {
            QTest::addRow("Content-Length \"%s\"", value)
                << post("content-length:" + QByteArray(value) + "\r\n") << 400 << malformedLength;
        }
        for (const char *value : {"5", " 5", "5 ", "\t5\t", "005", "0", "9223372036854775807"})
            QTest::addRow("Content-Length \"%s\"", value)
                << post("content-length:" + QByteArray(value) + "\r\n") << 0 << QByteArray();
    }

    void eachRuleHasItsAnswer()
    {
        QFETCH(QByteArray, in);
        QFETCH(int, status);
        QFETCH(QByteArray, message);
        const RequestHead head = parseRequestHead(in, limit);
        if (status < 0) {
            QCOMPARE(head.outcome, RequestHead::Outcome::Incomplete);
        } else if (status == 0) {
            QCOMPARE(head.outcome, RequestHead::Outcome::Read);
            QCOMPARE(head.consumed, in.size());
        } else {
            QCOMPARE(head.outcome, RequestHead::Outcome::Refused);
            QCOMPARE(head.refusal.status, status);
            QCOMPARE(head.refusal.message, message);
            QCOMPARE(head.refusal.code, status == 431   ? QByteArray("too_large")
                                        : status == 411 ? QByteArray("length_required")
                                        : status == 505 ? QByteArray("version_not_supported")
                                                        : QByteArray("bad_request"));
        }
    }

    // What a head that is read holds: its request, its body's length, how
    // much of the input it took, whether the connection closes after it.
    void aReadHeadHoldsItsRequest()
    {
        const QByteArray pipelined = "GET /next HTTP/1.1\r\nhost: localhost\r\n\r\n";
        const QByteArray post = "POST /api/v1/documents/sync?since=5&x=%41 HTTP/1.1\r\nHost:  localhost \r\n"
                                "Content-Length: 007\r\nx-forwarded-for: 10.0.0.1\r\n\r\n";
        RequestHead head = parseRequestHead(post + "{}" + pipelined, limit);
        QCOMPARE(head.outcome, RequestHead::Outcome::Read);
        QCOMPARE(head.consumed, post.size());
        QCOMPARE(head.request.method, "POST");
        QCOMPARE(head.request.path, u"/api/v1/documents/sync");
        QVERIFY(head.request.hadQuery);
        QCOMPARE(head.request.rawQuery, "since=5&x=%41");
        QCOMPARE(head.request.header("host"), "localhost");
        QCOMPARE(head.request.header("x-forwarded-for"), "10.0.0.1");
        QCOMPARE(head.contentLength, 7);
        QVERIFY(!head.http10 && !head.closeAfterReply);

        head = parseRequestHead("GET /a%20b HTTP/1.1\r\nhost: localhost\r\nConnection: Close\r\n\r\n", limit);
        QCOMPARE(head.request.path, u"/a b");
        QVERIFY(!head.request.hadQuery);
        QCOMPARE(head.contentLength, 0);
        QVERIFY(head.closeAfterReply);

        head = parseRequestHead("GET / HTTP/1.0\r\n\r\n", limit);
        QVERIFY(head.http10 && head.closeAfterReply);

        // The absolute form's host stands for the Host header, sent or not.
        head =
            parseRequestHead("GET http://Example.test:8080?q=1 HTTP/1.1\r\nhost: localhost\r\n\r\n", limit);
        QCOMPARE(head.request.path, u"/");
        QCOMPARE(head.request.rawQuery, "q=1");
        QCOMPARE(head.request.header("host"), "Example.test:8080");
        head = parseRequestHead("GET https://example.test/p HTTP/1.0\r\n\r\n", limit);
        QCOMPARE(head.request.path, u"/p");
        QCOMPARE(head.request.header("host"), "example.test");
    }
};

QTEST_APPLESS_MAIN(tst_RequestHead)
#include "tst_requesthead.moc"
