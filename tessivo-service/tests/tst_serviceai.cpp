#include "ServiceFixture.h"

#include <QTcpServer>
#include <QTcpSocket>

using namespace servicetest;

namespace {
// An OpenAI-compatible chat-completions server on loopback that answers
// every request with `reply` and keeps the request it got.
class FakeUpstream : public QObject
{
public:
    explicit FakeUpstream(QByteArray reply) : m_reply(std::move(reply))
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                received += socket->readAll();
                // Qt sends the JSON body last; it ends with "}".
                if (!received.endsWith('}'))
                    return;
                socket->write(m_reply);
                socket->disconnectFromHost();
            });
        });
    }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/v1/chat/completions").arg(m_server.serverPort()));
    }
    QJsonObject body() const
    {
        return QJsonDocument::fromJson(received.mid(received.indexOf("\r\n\r\n") + 4)).object();
    }

    QByteArray received;

private:
    QTcpServer m_server;
    QByteArray m_reply;
};

QByteArray sse(const QStringList &pieces)
{
    QByteArray out = "HTTP/1.1 200 OK\r\ncontent-type: text/event-stream\r\nconnection: close\r\n\r\n";
    for (const QString &piece : pieces) {
        const QJsonObject chunk{
            {"choices", QJsonArray{QJsonObject{{"delta", QJsonObject{{"content", piece}}}}}}};
        out += "data: " + QJsonDocument(chunk).toJson(QJsonDocument::Compact) + "\n\n";
    }
    return out + "data: [DONE]\n\n";
}

const QJsonObject refine{{"mode", "refine"},         {"action", "condense"}, {"prompt", ""},
                         {"text", "selected words"}, {"before", "before "},  {"after", " after"}};
} // namespace

class tst_ServiceAi : public QObject
{
    Q_OBJECT

private slots:
    void withoutAnEndpointSaysSo();
    void forwardsAndStreamsTheText();
    void upstreamFailureIsAnErrorReply();
    void scriptsPlayPiecesThenEndOrDrop_data();
    void scriptsPlayPiecesThenEndOrDrop();
};

void tst_ServiceAi::withoutAnEndpointSaysSo()
{
    Fixture f;
    START_SERVICE(f);
    const QString t = f.server->hooks().registerUser("ann@example.com", "Ann").sessionToken;
    const Response r = f.post("/api/ai", t, refine);
    QCOMPARE(r.status, 503);
    QCOMPARE(r.json()["error"].toObject()["message"].toString(),
             QStringLiteral("AI isn't set up on this service."));
}

void tst_ServiceAi::forwardsAndStreamsTheText()
{
    FakeUpstream upstream(sse({"Con", "densed \xe2\x9c\x93"}));
    Fixture f;
    ServerOptions options;
    options.aiEndpoint = upstream.url();
    options.aiModel = "local-model";
    options.aiKey = "sk-test";
    START_SERVICE(f, options);
    const QString t = f.server->hooks().registerUser("ann@example.com", "Ann").sessionToken;
    const Response r = f.post("/api/ai", t, refine);
    QCOMPARE(r.status, 200);
    QCOMPARE(r.body, QByteArray("Condensed \xe2\x9c\x93"));
    QCOMPARE(upstream.body()["model"].toString(), QStringLiteral("local-model"));
    QVERIFY(upstream.received.toLower().contains("authorization: bearer sk-test"));
    const QString prompt = QJsonDocument(upstream.body()["messages"].toArray()).toJson();
    QVERIFY(prompt.contains("selected words") && prompt.contains("Condense"));
}

void tst_ServiceAi::upstreamFailureIsAnErrorReply()
{
    FakeUpstream upstream(
        "HTTP/1.1 500 Internal Server Error\r\ncontent-length: 2\r\nconnection: close\r\n\r\n{}");
    Fixture f;
    ServerOptions options;
    options.aiEndpoint = upstream.url();
    START_SERVICE(f, options);
    const QString t = f.server->hooks().registerUser("ann@example.com", "Ann").sessionToken;
    const Response r = f.post("/api/ai", t, refine);
    QCOMPARE(r.status, 502);
    QVERIFY(r.json()["error"].toObject()["message"].isString());
}

void tst_ServiceAi::scriptsPlayPiecesThenEndOrDrop_data()
{
    QTest::addColumn<bool>("abortAtEnd");
    QTest::newRow("ends") << false;
    QTest::newRow("drops mid-body") << true;
}

void tst_ServiceAi::scriptsPlayPiecesThenEndOrDrop()
{
    QFETCH(bool, abortAtEnd);
    Fixture f;
    START_SERVICE(f);
    const QString t = f.server->hooks().registerUser("ann@example.com", "Ann").sessionToken;
    // A check mark split across two pieces.
    f.server->hooks().setAiScript({200, {}, {{0, "a \xe2\x9c"}, {20, "\x93 b"}}, abortAtEnd});
    const Response r = f.post("/api/ai", t, refine);
    QCOMPARE(r.status, 200);
    if (abortAtEnd) {
        QCOMPARE(r.error, QNetworkReply::RemoteHostClosedError);
    } else {
        QCOMPARE(r.error, QNetworkReply::NoError);
        QCOMPARE(r.body, QByteArray("a \xe2\x9c\x93 b"));
    }
}

QTEST_GUILESS_MAIN(tst_ServiceAi)
#include "tst_serviceai.moc"
