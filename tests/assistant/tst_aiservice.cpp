// The writing assistant against the real service in-process (its timed AI
// script standing in for a model) and a bare loopback server: the reply
// arrives in order on the main thread, errors reach the user as the service
// words them, a time-out is a failure and a cancellation closes the
// connection.
#include "StreamRecorder.h"
#include "assistant/core/AIAssistant.h"
#include "assistant/core/AIRequest.h"
#include "service/core/APIClient.h"

#include "service/LocalServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace tessivo::server;
Q_DECLARE_METATYPE(std::optional<tessivo::server::AiScript>)

class TestAIService : public QObject
{
    Q_OBJECT

    std::unique_ptr<Server> m_server;
    Account m_account;

    std::unique_ptr<APIClient> client(const QUrl &url, const QString &token,
                                      APIClient::Timeouts timeouts = {})
    {
        auto api = std::make_unique<APIClient>(url, timeouts);
        api->setTokenProvider([token] { return std::optional(token); });
        return api;
    }

    static AIStream *start(AIAssistant &assistant, StreamRecorder &run, QObject *owner)
    {
        return run.watch(
            assistant.stream(AIRequest::refine(u"fix-grammar"_s, {}, u"teh cat"_s, u"A "_s, u"."_s), owner));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = startLocalServer();
        m_account = m_server->hooks().registerUser(u"ada@example.com"_s, u"Ada"_s);
    }

    void replies_data()
    {
        QTest::addColumn<std::optional<AiScript>>("script");
        QTest::addColumn<QString>("code"); // empty: finished
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("streams in, a character split across pieces")
            << std::optional<AiScript>(
                   {200, {}, {{0, "The "}, {40, "cat\xE2\x80"}, {40, "\xA6 sat."}}, false})
            << QString() << 0 << u"The cat\u2026 sat."_s;
        QTest::newRow("no model endpoint: the service says so")
            << std::optional<AiScript>() << u"ai_unavailable"_s << 503 << QString();
        QTest::newRow("dropped mid-body: a broken stream, text kept")
            << std::optional<AiScript>({200, {}, {{30, "partial"}, {30, "x"}}, true}) << u"stream"_s << 0
            << u"partialx"_s;
    }

    void replies()
    {
        QFETCH(std::optional<AiScript>, script);
        QFETCH(QString, code);
        QFETCH(int, status);
        QFETCH(QString, text);
        if (script)
            m_server->hooks().setAiScript(*script);
        auto api = client(m_server->baseUrl(), m_account.sessionToken);
        AIAssistant assistant(AIAssistant::overClient(api.get()));
        QObject owner;
        StreamRecorder run;
        start(assistant, run, &owner);
        // The main loop keeps turning while the reply comes in.
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(5);
        QTRY_VERIFY_WITH_TIMEOUT(run.over(), TestWaits::limitMs);
        QVERIFY(!run.offMainThread);
        QCOMPARE(run.error.has_value(), !code.isEmpty());
        if (run.error) {
            QCOMPARE(run.error->code, code);
            QCOMPARE(run.error->status, status);
            QVERIFY(!run.error->message.isEmpty());
            // What reached the consumer before a drop stays; how much that is
            // depends on when the pieces arrive (the 16 ms gate is tested
            // with a fake source).
            QVERIFY2(text.startsWith(run.text()), qPrintable(run.text()));
        } else {
            QCOMPARE(run.text(), text);
            QVERIFY(run.chunks.size() >= 2 && ticks > 3);
        }
    }

    // A loopback server that sends a head and a first piece, then waits.
    void timeOutFailsAndCancelCloses_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("time-out: a failure with its message") << false;
        QTest::newRow("cancel: silent, the connection closes") << true;
    }

    void timeOutFailsAndCancelCloses()
    {
        QFETCH(bool, cancel);
        // Outlive the server: its socket says it disconnected as it goes.
        QPointer<QTcpSocket> peer;
        bool closed = false;
        QTcpServer fake;
        QVERIFY(fake.listen(QHostAddress::LocalHost));
        connect(&fake, &QTcpServer::newConnection, this, [&] {
            peer = fake.nextPendingConnection();
            connect(peer, &QTcpSocket::disconnected, this, [&closed] { closed = true; });
            connect(peer, &QTcpSocket::readyRead, peer, [&peer] {
                if (peer->readAll().contains("\r\n\r\n"))
                    peer->write(
                        "HTTP/1.1 200 OK\r\ncontent-type: text/plain\r\ntransfer-encoding: chunked\r\n\r\n"
                        "5\r\nfirst\r\n");
            });
        });
        // A cancelled run keeps the long time-outs: only the cancel can close it.
        const APIClient::Timeouts shortWait{.requestMs = 300, .streamMs = 300, .idleMs = 300};
        auto api = client(QUrl(u"http://127.0.0.1:%1"_s.arg(fake.serverPort())), u"t"_s,
                          cancel ? APIClient::Timeouts{} : shortWait);
        qint64 now = 0;
        AIAssistant assistant(AIAssistant::overClient(api.get()), [&now] { return now += 20; });
        QObject owner;
        StreamRecorder run;
        AIStream *stream = start(assistant, run, &owner);
        QTRY_COMPARE_WITH_TIMEOUT(run.text(), u"first"_s, TestWaits::limitMs);
        if (cancel) {
            stream->cancel();
            QTRY_VERIFY_WITH_TIMEOUT(closed, TestWaits::limitMs);
            QVERIFY(!run.over()); // the abort is not reported
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(run.over(), TestWaits::limitMs);
            QVERIFY(run.error);
            QCOMPARE(run.error->message, u"The AI request failed. Try again."_s);
        }
    }
};

QTEST_GUILESS_MAIN(TestAIService)
#include "tst_aiservice.moc"
