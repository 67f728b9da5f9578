#include "ServiceFixture.h"

#include <QTcpServer>
#include <QTcpSocket>

using namespace servicetest;
using namespace Qt::StringLiterals;

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
    // The reply a chat-completions upstream gives (none: no endpoint set up).
    void upstreams_data()
    {
        QTest::addColumn<QByteArray>("upstream");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reply"); // the body, or the error's message
        QTest::newRow("none set up") << QByteArray() << 503 << "AI isn't set up on this service.";
        QTest::newRow("forwarded, streamed back")
            << sse({"Con", "densed \xe2\x9c\x93"}) << 200 << QString::fromUtf8("Condensed \xe2\x9c\x93");
        QTest::newRow("upstream failure")
            << QByteArray(
                   "HTTP/1.1 500 Internal Server Error\r\ncontent-length: 2\r\nconnection: close\r\n\r\n{}")
            << 502 << "The AI service answered with an error (500).";
    }

    void upstreams()
    {
        QFETCH(QByteArray, upstream);
        QFETCH(int, status);
        QFETCH(QString, reply);
        FakeUpstream fake(upstream);
        Fixture f;
        ServerOptions options;
        if (!upstream.isEmpty())
            options.aiEndpoint = fake.url();
        options.aiModel = "local-model";
        options.aiKey = "sk-test";
        START_SERVICE(f, options);
        const Response r = f.post("/api/ai", f.token(), refine);
        QCOMPARE(r.status, status);
        QCOMPARE(status == 200 ? QString::fromUtf8(r.body) : r.json()["error"][u"message"_s].toString(),
                 reply);
        if (status != 200)
            return;
        QCOMPARE(fake.body()["model"].toString(), QStringLiteral("local-model"));
        QVERIFY(fake.received.toLower().contains("authorization: bearer sk-test"));
        const QString prompt = QJsonDocument(fake.body()["messages"].toArray()).toJson();
        QVERIFY(prompt.contains("selected words") && prompt.contains("Condense"));
    }
};

QTEST_GUILESS_MAIN(tst_ServiceAi)
#include "tst_serviceai.moc"
