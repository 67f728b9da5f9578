#include "protocol/WireRecords.h"
#include "service/core/APIClient.h"
#include "service/core/APIStream.h"

#include "FloodServer.h"
#include "PeakMemory.h"
#include "service/LocalServer.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace tessivo::server;
Q_DECLARE_METATYPE(tessivo::server::ScriptedReply)
Q_DECLARE_METATYPE(tessivo::server::AiScript)

namespace {

template <typename T>
APIResult<T> result(const APICall<T> &call)
{
    QObject context;
    std::optional<APIResult<T>> outcome;
    call.then(&context, [&](const APIResult<T> &r) { outcome = r; });
    if (!QTest::qWaitFor([&] { return outcome.has_value(); }, TestWaits::limitMs))
        return APIError{u"test"_s, u"no result"_s, -1};
    return *outcome;
}

// What a stream reported, in order, a failure as "failed <code>". Takes the
// stream; `then` runs once it is watched.
QByteArrayList events(APIStream *stream, const std::function<void(APIStream *)> &then = {})
{
    const std::unique_ptr<APIStream> owned(stream);
    QByteArrayList seen;
    QObject::connect(stream, &APIStream::responseReceived, stream, [&](const APIResponse &head) {
        seen.append("head " + QByteArray::number(head.status));
    });
    QObject::connect(stream, &APIStream::received, stream,
                     [&](const QByteArray &bytes) { seen.append(bytes); });
    QObject::connect(stream, &APIStream::finished, stream, [&] { seen.append("end"); });
    QObject::connect(stream, &APIStream::failed, stream, [&](const APIFailure &f) {
        seen.append("failed " + (f.isCancelled() ? "cancelled" : f.apiError().code.toUtf8()));
    });
    if (then)
        then(stream);
    if (!QTest::qWaitFor([&] { return stream->isOver(); }, TestWaits::limitMs))
        seen.append("still running");
    return seen;
}

} // namespace

class TestAPIClient : public QObject
{
    Q_OBJECT

    std::unique_ptr<Server> m_server;
    QString m_token;

    TestHooks hooks() { return m_server->hooks(); }
    std::unique_ptr<APIClient> client(APIClient::Timeouts timeouts = {})
    {
        auto api = std::make_unique<APIClient>(m_server->baseUrl(), timeouts);
        api->setTokenProvider([this] { return std::optional(m_token); });
        return api;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = startLocalServer();
        m_token = hooks().registerUser(u"ada@example.com"_s, u"Ada"_s).sessionToken;
    }

    void init() { hooks().clearRequestLog(); }

    // A reply read whole is refused once its declared length or what came
    // of it passes the cap, long before the service has sent it all.
    void oversizedRepliesStopAsTheyArrive_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<QByteArray>("head");
        QTest::newRow("declared length") << 200 << false << "content-length: 4294967296\r\n"_ba;
        QTest::newRow("chunked") << 200 << true << QByteArray();
        QTest::newRow("error body") << 500 << true << QByteArray();
    }

    void oversizedRepliesStopAsTheyArrive()
    {
        QFETCH(int, status);
        QFETCH(bool, chunked);
        QFETCH(QByteArray, head);
        FloodServer flood(status, chunked ? FloodServer::Body::chunked : FloodServer::Body::plain, 256 << 20,
                          head);
        APIClient api(flood.url());
        const PeakMemory memory;
        const APIResult<MeResponse> reply = result(api.get<MeResponse>(u"/api/v1/me"_s));
        QVERIFY(!reply);
        QCOMPARE(reply.failure().description(), u"The service sent a reply that was too large."_s);
        if (PeakMemory::meaningful)
            QVERIFY2(memory.rise() < APIClient::maxReplyBytes + (64 << 20),
                     qPrintable(u"peak rose by %1 MiB"_s.arg(memory.rise() >> 20)));
    }

    // Each request as logged: its request line, then the client's own
    // headers with their names and order as sent.
    void headerRecipe()
    {
        auto api = client();
        int asked = 0;
        api->setTokenProvider([&] { return ++asked, std::optional(m_token); });
        using M = APIClient::Method;
        result(api->get<SyncPullResponse>(u"/api/v1/documents/sync"_s, {{u"since"_s, u"0"_s}}));
        result(api->get<MeResponse>(u"/api/v1/me"_s, {}, false));
        result(api->send<SyncPushResponse>(M::Post, u"/api/v1/documents/sync"_s, SyncPushRequest{}));
        events(api->stream(M::Post, u"/api/ai"_s, "{}"_ba, "application/json"));
        events(api->stream(M::Delete, u"/api/v1/published/a b?"_s, {}, "x/y"));

        QByteArrayList sent;
        for (const LoggedRequest &request : hooks().requestLog()) {
            QByteArray lines = request.method + ' ' + QUrl::toPercentEncoding(request.path, "/");
            if (request.hadQuery)
                lines += '?' + request.rawQuery;
            for (const auto &[name, value] : request.headers)
                if (QByteArrayList{"accept", "user-agent", "content-type", "authorization"}.contains(
                        name.toLower()))
                    lines += '|' + name + ": " + value;
            sent.append(lines);
        }
        const QByteArray json = "|accept: application/json|user-agent: Tessivo-macOS/" TESSIVO_VERSION;
        const QByteArray text =
            "|accept: text/plain, application/json|user-agent: Tessivo-macOS/" TESSIVO_VERSION;
        const QByteArray bearer = "|authorization: Bearer " + m_token.toUtf8();
        QCOMPARE(sent, (QByteArrayList{
                           "GET /api/v1/documents/sync?since=0" + json + bearer, "GET /api/v1/me" + json,
                           "POST /api/v1/documents/sync" + json + "|content-type: application/json" + bearer,
                           "POST /api/ai" + text + "|content-type: application/json" + bearer,
                           "DELETE /api/v1/published/a%20b%3F" + text + bearer}));
        QCOMPARE(asked, 4); // not for the unauthenticated get
    }

    // Every failure of a send is one request: nothing is retried. A rolled
    // token is handed on before the status is judged, whatever the status.
    void failures_data()
    {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("expected"); // code and status, or "decoding"
        QTest::addColumn<QString>("rolled");
        QTest::newRow("401 rolls the token first")
            << ScriptedReply{401, R"({"error":"Expired"})", {{"Set-Auth-Token", "fresh"}}}
            << u"unauthorized 401"_s << u"fresh"_s;
        QTest::newRow("error object keeps the status")
            << ScriptedReply{409, R"({"error":{"code":"c"}})", {{"set-auth-token", ""}}} << u"c 409"_s
            << QString();
        QTest::newRow("2xx without now")
            << ScriptedReply{200, R"({"results":[]})", {}} << u"decoding"_s << QString();
        QTest::newRow("2xx not JSON") << ScriptedReply{200, "ok", {}} << u"decoding"_s << QString();
        QTest::newRow("dropped without reply")
            << ScriptedReply{200, {}, {}, true} << u"network 0"_s << QString();
    }

    void failures()
    {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, expected);
        QFETCH(QString, rolled);
        hooks().forceReply("POST", u"/api/v1/documents/sync"_s, 1, reply);
        auto api = client();
        const auto push = api->send<SyncPushResponse>(APIClient::Method::Post, u"/api/v1/documents/sync"_s,
                                                      SyncPushRequest{});
        QString handedOn;
        connect(api.get(), &APIClient::tokenRolled, this, [&](const QString &token) {
            QVERIFY(!push.future().isFinished());
            handedOn += token;
        });
        const APIResult<SyncPushResponse> outcome = result(push);
        QVERIFY(!outcome);
        const APIFailure &f = outcome.failure();
        QCOMPARE(f.isAPIError() ? u"%1 %2"_s.arg(f.apiError().code).arg(f.apiError().status) : u"decoding"_s,
                 expected);
        QCOMPARE(handedOn, rolled);
        QCOMPARE(hooks().requestLog().size(), 1);
    }

    // A time-out is a lost connection; an abort, of a plain request as of a
    // stream, is a cancellation.
    void timeoutsAndCancellation()
    {
        hooks().setLatency(u"/api/v1/me"_s, 30'000);
        auto api = client({.requestMs = 100, .streamMs = 100, .idleMs = 100});
        const QString network = u"Couldn't reach 127.0.0.1. Check your connection."_s;
        QCOMPARE(result(api->get<MeResponse>(u"/api/v1/me"_s)).failure().apiError().message, network);
        const APICall<MeResponse> aborted = api->get<MeResponse>(u"/api/v1/me"_s);
        aborted.abort();
        QVERIFY(aborted.future().isFinished()); // reported before abort() returns
        QVERIFY(result(aborted).failure().isCancelled());

        QCOMPARE(events(api->stream(APIClient::Method::Get, u"/api/v1/me"_s, {}, {})),
                 QByteArrayList{"failed network"});
        const QByteArrayList cancelled =
            events(api->stream(APIClient::Method::Get, u"/api/v1/me"_s, {}, {}), [](APIStream *stream) {
                stream->abort();
                QVERIFY(stream->isOver()); // reported before abort() returns
            });
        QCOMPARE(cancelled, QByteArrayList{"failed cancelled"});
        hooks().setLatency(u"/api/v1/me"_s, 0);
    }

    void streaming_data()
    {
        QTest::addColumn<AiScript>("script");
        QTest::addColumn<QByteArrayList>("expected");
        QTest::newRow("pieces as they come, after the head")
            << AiScript{200, {}, {{0, "Hel"}, {200, "lo "}, {200, "there"}}, false}
            << QByteArrayList{"head 200", "Hel", "lo ", "there", "end"};
        QTest::newRow("dropped mid-body keeps what came")
            << AiScript{200, {}, {{0, "Hi"}}, true} << QByteArrayList{"head 200", "Hi", "failed network"};
        QTest::newRow("error body read to its end")
            << AiScript{503, {}, {{0, R"({"error":{"code":"busy",)"}, {100, R"("message":"Busy"}})"}}, false}
            << QByteArrayList{"failed busy"};
    }

    void streaming()
    {
        QFETCH(AiScript, script);
        QFETCH(QByteArrayList, expected);
        hooks().setAiScript(script);
        QCOMPARE(events(client()->stream(APIClient::Method::Post, u"/api/ai"_s, "{}"_ba, {})), expected);
    }
};

QTEST_GUILESS_MAIN(TestAPIClient)
#include "tst_apiclient.moc"
