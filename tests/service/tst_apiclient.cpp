#include "service/core/APIClient.h"
#include "service/core/APIStream.h"
#include "service/core/WireRecords.h"

#include "Server.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

namespace {

// The client's own headers as the service logged them, in order.
QByteArrayList recipe(const LoggedRequest &request)
{
    static const QByteArrayList ours{"accept", "user-agent", "content-type", "authorization"};
    QByteArrayList lines;
    for (const auto &[name, value] : request.headers) {
        if (ours.contains(name.toLower()))
            lines.append(name + ": " + value);
    }
    return lines;
}

template <typename T>
APIResult<T> result(const APICall<T> &call)
{
    const QFuture<APIResult<T>> future = call.future();
    if (!QTest::qWaitFor([&] { return future.isFinished(); }, 10'000))
        return APIError{u"test"_s, u"no result"_s, -1};
    return future.result();
}

// The stream's outcome: its failure, or nullopt when it finished.
std::optional<APIFailure> outcome(APIStream *stream)
{
    std::optional<APIFailure> failure;
    QObject::connect(stream, &APIStream::failed, stream, [&](const APIFailure &f) { failure = f; });
    if (!QTest::qWaitFor([&] { return stream->isOver(); }, 10'000))
        return APIError{u"test"_s, u"no outcome"_s, -1};
    return failure;
}

const QByteArray bearer = "authorization: Bearer ";

} // namespace

Q_DECLARE_METATYPE(tessivo::server::ScriptedReply)

class TestAPIClient : public QObject
{
    Q_OBJECT

    std::unique_ptr<Server> m_server;
    Account m_account;

    TestHooks hooks() { return m_server->hooks(); }
    std::unique_ptr<APIClient> client(APIClient::Timeouts timeouts = {})
    {
        auto c = std::make_unique<APIClient>(m_server->baseUrl(), timeouts);
        c->setTokenProvider([token = m_account.sessionToken] { return std::optional(token); });
        return c;
    }

private Q_SLOTS:
    void initTestCase()
    {
        ServerOptions options;
        options.listen = {{QHostAddress::LocalHost, 0}};
        options.database = u"sqlite::memory:"_s;
        m_server = std::make_unique<Server>(options);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_account = hooks().registerUser(u"ada@example.com"_s, u"Ada"_s);
    }

    void init() { hooks().clearRequestLog(); }

    void headerRecipe_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QByteArray>("requestLine");
        QTest::addColumn<QByteArrayList>("headers");
        const QByteArray agent = "user-agent: Tessivo-macOS/" TESSIVO_VERSION;
        QTest::newRow("get with query") << 0 << "GET /api/v1/documents/sync?since=0"_ba
                                        << QByteArrayList{"accept: application/json", agent, bearer};
        QTest::newRow("get, not authenticated: no token asked")
            << 1 << "GET /api/v1/me"_ba << QByteArrayList{"accept: application/json", agent};
        QTest::newRow("send") << 2 << "POST /api/v1/documents/sync"_ba
                              << QByteArrayList{"accept: application/json", agent,
                                                "content-type: application/json", bearer};
        QTest::newRow("stream with body") << 3 << "POST /api/ai"_ba
                                          << QByteArrayList{"accept: text/plain, application/json", agent,
                                                            "content-type: application/json", bearer};
        QTest::newRow("stream without body: no content type")
            << 4 << "DELETE /api/v1/published/a%20b%3F"_ba
            << QByteArrayList{"accept: text/plain, application/json", agent, bearer};
    }

    void headerRecipe()
    {
        QFETCH(int, operation);
        QFETCH(QByteArray, requestLine);
        QFETCH(QByteArrayList, headers);
        auto api = client();
        bool asked = false;
        api->setTokenProvider([&] {
            asked = true;
            return std::optional(m_account.sessionToken);
        });
        using M = APIClient::Method;
        std::unique_ptr<APIStream> stream;
        if (operation == 0)
            result(api->get<SyncPullResponse>(u"/api/v1/documents/sync"_s, {{u"since"_s, u"0"_s}}));
        else if (operation == 1)
            result(api->get<MeResponse>(u"/api/v1/me"_s, {}, false));
        else if (operation == 2)
            result(api->send<SyncPushResponse>(M::Post, u"/api/v1/documents/sync"_s, SyncPushRequest{}));
        else
            stream.reset(api->stream(operation == 3 ? M::Post : M::Delete,
                                     operation == 3 ? u"/api/ai"_s : u"/api/v1/published/a b?"_s,
                                     operation == 3 ? std::optional("{}"_ba) : std::nullopt,
                                     "application/json"));
        if (stream)
            outcome(stream.get());

        const QList<LoggedRequest> log = hooks().requestLog();
        QCOMPARE(log.size(), 1);
        const LoggedRequest &request = log.first();
        const QByteArray query = request.hadQuery ? "?" + request.rawQuery : QByteArray();
        QCOMPARE(request.method + ' ' + QUrl::toPercentEncoding(request.path, "/") + query, requestLine);
        if (headers.last() == bearer)
            headers.last() += m_account.sessionToken.toUtf8();
        QCOMPARE(recipe(request), headers);
        QCOMPARE(asked, operation != 1);
    }

    void tokenRollsBeforeTheStatus()
    {
        auto api = client();
        hooks().forceReply("GET", u"/api/v1/me"_s, 1,
                           {401, R"({"error":"Expired"})", {{"Set-Auth-Token", "fresh"}}});
        hooks().forceReply("GET", u"/api/v1/me"_s, 2, {200, "{}", {{"set-auth-token", ""}}});
        APICall<MeResponse> call = api->get<MeResponse>(u"/api/v1/me"_s);
        QStringList rolled;
        connect(api.get(), &APIClient::tokenRolled, this, [&](const QString &token) {
            QVERIFY(!call.future().isFinished());
            rolled.append(token);
        });
        const APIResult<MeResponse> first = result(call);
        QVERIFY(!first && first.failure().isAPIError());
        QCOMPARE(first.failure().apiError().code, u"unauthorized"_s);
        QCOMPARE(first.failure().apiError().status, 401);
        call = api->get<MeResponse>(u"/api/v1/me"_s);
        QCOMPARE(result(call).failure().kind(), APIFailure::Kind::decoding);
        QCOMPARE(rolled, QStringList{u"fresh"_s});
    }

    void failures_data()
    {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("expected"); // code, or "decoding"
        QTest::addColumn<int>("status");
        QTest::newRow("error object")
            << ScriptedReply{409, R"({"error":{"code":"c","message":"m"}})", {}} << u"c"_s << 409;
        QTest::newRow("html 500") << ScriptedReply{500, "<h1>oops</h1>", {}} << u"error"_s << 500;
        QTest::newRow("2xx without user") << ScriptedReply{200, R"({"site":null})", {}} << u"decoding"_s << 0;
        QTest::newRow("2xx not JSON") << ScriptedReply{200, "ok", {}} << u"decoding"_s << 0;
    }

    void failures()
    {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, expected);
        QFETCH(int, status);
        hooks().forceReply("GET", u"/api/v1/me"_s, 1, reply);
        const APIResult<MeResponse> me = result(client()->get<MeResponse>(u"/api/v1/me"_s));
        QVERIFY(!me);
        if (expected == u"decoding") {
            QCOMPARE(me.failure().kind(), APIFailure::Kind::decoding);
            QVERIFY(!me.failure().description().isEmpty());
            return;
        }
        QCOMPARE(me.failure().apiError().code, expected);
        QCOMPARE(me.failure().apiError().status, status);
    }

    void droppedSendIsNotResent()
    {
        hooks().forceReply("POST", u"/api/v1/documents/sync"_s, 1, {200, {}, {}, true});
        const auto push = result(client()->send<SyncPushResponse>(
            APIClient::Method::Post, u"/api/v1/documents/sync"_s, SyncPushRequest{}));
        QVERIFY(!push);
        QCOMPARE(push.failure().apiError().code, u"network"_s);
        QCOMPARE(hooks().requestLog().size(), 1);
    }

    void unreachableServiceIsNamed()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        APIClient api(QUrl(u"http://127.0.0.1:%1"_s.arg(port)));
        const APIResult<MeResponse> me = result(api.get<MeResponse>(u"/api/v1/me"_s));
        QCOMPARE(me.failure().apiError().message, u"Couldn't reach 127.0.0.1. Check your connection."_s);
    }

    // A time-out and an abort of a plain request are both lost connections;
    // only an aborted stream is a cancellation.
    void timeoutsAndCancellation_data()
    {
        QTest::addColumn<bool>("isStream");
        QTest::addColumn<bool>("abort");
        QTest::addColumn<QString>("expected");
        QTest::newRow("request times out") << false << false << u"network"_s;
        QTest::newRow("request aborted") << false << true << u"network"_s;
        QTest::newRow("stream times out") << true << false << u"network"_s;
        QTest::newRow("stream aborted") << true << true << u"cancelled"_s;
    }

    void timeoutsAndCancellation()
    {
        QFETCH(bool, isStream);
        QFETCH(bool, abort);
        QFETCH(QString, expected);
        hooks().setLatency(u"/api/v1/me"_s, 30'000);
        auto api = client({.requestMs = 100, .streamMs = 100, .idleMs = 100});
        std::optional<APIFailure> failure;
        if (isStream) {
            std::unique_ptr<APIStream> stream(api->stream(APIClient::Method::Get, u"/api/v1/me"_s, {}, {}));
            connect(stream.get(), &APIStream::failed, this, [&](const APIFailure &f) { failure = f; });
            if (abort) {
                stream->abort();
                QVERIFY(failure); // reported before abort() returns
            }
            QVERIFY(QTest::qWaitFor([&] { return stream->isOver(); }, 10'000));
        } else {
            APICall<MeResponse> call = api->get<MeResponse>(u"/api/v1/me"_s);
            if (abort)
                call.abort();
            failure = result(call).failure();
        }
        hooks().setLatency(u"/api/v1/me"_s, 0);
        QVERIFY(failure);
        QCOMPARE(failure->isCancelled() ? u"cancelled"_s : failure->apiError().code, expected);
    }

    void streamDeliversPiecesAfterTheHead()
    {
        hooks().setAiScript({200, {}, {{0, "Hel"}, {300, "lo "}, {300, "there"}}, false});
        auto api = client();
        std::unique_ptr<APIStream> stream(
            api->stream(APIClient::Method::Post, u"/api/ai"_s, "{}"_ba, "application/json"));
        QByteArrayList events;
        connect(stream.get(), &APIStream::responseReceived, this,
                [&](const APIResponse &head) { events.append("head " + QByteArray::number(head.status)); });
        connect(stream.get(), &APIStream::received, this,
                [&](const QByteArray &bytes) { events.append(bytes); });
        connect(stream.get(), &APIStream::finished, this, [&] { events.append("end"); });
        QVERIFY(!outcome(stream.get()));
        QCOMPARE(events, (QByteArrayList{"head 200", "Hel", "lo ", "there", "end"}));
    }

    void streamErrorIsReadToItsEnd()
    {
        hooks().setAiScript(
            {500, {}, {{0, R"({"error":{"code":"x",)"}, {50, R"("message":"Down"}})"}}, false});
        auto api = client();
        std::unique_ptr<APIStream> stream(
            api->stream(APIClient::Method::Post, u"/api/ai"_s, "{}"_ba, "application/json"));
        QSignalSpy pieces(stream.get(), &APIStream::received);
        const std::optional<APIFailure> failure = outcome(stream.get());
        QVERIFY(failure && pieces.isEmpty());
        QCOMPARE(failure->apiError().message, u"Down"_s);
        QCOMPARE(failure->apiError().status, 500);
    }
};

QTEST_GUILESS_MAIN(TestAPIClient)
#include "tst_apiclient.moc"
