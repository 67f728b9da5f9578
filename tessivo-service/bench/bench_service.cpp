// Load figures for the Tessivo service on loopback:
//   bulk: push 10,000 documents of 4 KB in batches of 500, then pull them all, piece by piece;
//   load: 50 clients, each pulling and pushing one document, for 10 seconds;
//   keep-alive: 1,000 clients on connections of their own doing the same.
// Load clients come from 127.0.0.2 to 127.0.0.251, so that the service's
// limit per client address isn't what is measured.
// Usage: bench_service [--postgres "host=/tmp/pg user=tessivo"]
// The service runs as its own process (the `tessivo-service` binary).

#include "TestHooks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cstdio>

using namespace tessivo::server;

namespace {
constexpr int documentCount = 10000;
constexpr int batchSize = 500;
constexpr int clientCount = 50;
constexpr int keepAliveCount = 1000;
constexpr int loadSeconds = 10;

QJsonObject document(const QString &id, qint64 updatedAt)
{
    return {{"id", id},
            {"title", id},
            {"body", QString(4096, 'w')},
            {"createdAt", 1},
            {"updatedAt", updatedAt},
            {"deletedAt", QJsonValue::Null},
            {"collectionId", QJsonValue::Null}};
}

QByteArray pushBody(const QJsonArray &docs)
{
    return QJsonDocument(QJsonObject{{"docs", docs}, {"collections", QJsonArray{}}})
        .toJson(QJsonDocument::Compact);
}

struct Client
{
    QNetworkAccessManager network;
    QString token;
};

QNetworkReply *send(Client &client, const QString &base, const QByteArray &method, const QString &path,
                    const QByteArray &body = {})
{
    QNetworkRequest request(QUrl(base + path));
    request.setRawHeader("authorization", "Bearer " + client.token.toLatin1());
    if (!body.isEmpty())
        request.setRawHeader("content-type", "application/json");
    return client.network.sendCustomRequest(request, method, body);
}

QByteArray wait(QNetworkReply *reply, bool *ok)
{
    while (!reply->isFinished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    *ok = reply->error() == QNetworkReply::NoError;
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

// One keep-alive HTTP/1.1 connection from a loopback address of its own.
class RawClient : public QObject
{
public:
    RawClient(const QString &from, quint16 port, QString token) : m_token(std::move(token))
    {
        m_socket.bind(QHostAddress(from));
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        connect(&m_socket, &QTcpSocket::readyRead, this, &RawClient::read);
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { finish(0); });
    }

    // Sends a request; `done` gets the status (0 when the connection broke).
    void send(const QByteArray &method, const QByteArray &path, const QByteArray &body,
              std::function<void(int)> done)
    {
        m_done = std::move(done);
        m_in.clear();
        QByteArray head = method + ' ' + path + " HTTP/1.1\r\nhost: localhost\r\nauthorization: Bearer " +
                          m_token.toLatin1() + "\r\n";
        if (!body.isEmpty())
            head += "content-type: application/json\r\ncontent-length: " + QByteArray::number(body.size()) +
                    "\r\n";
        m_socket.write(head + "\r\n" + body);
    }

private:
    void read()
    {
        m_in += m_socket.readAll();
        const qsizetype end = m_in.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        static const QRegularExpression length("(?i)\r\ncontent-length: *(\\d+)");
        const qsizetype body = length.match(QString::fromLatin1(m_in.left(end + 2))).captured(1).toLongLong();
        if (m_in.size() < end + 4 + body)
            return;
        finish(m_in.mid(9, 3).toInt());
    }

    void finish(int status)
    {
        if (auto done = std::exchange(m_done, nullptr))
            done(status);
    }

    QTcpSocket m_socket;
    QString m_token;
    QByteArray m_in;
    std::function<void(int)> m_done;
};

// Every client alternates a pull and a one-document push for `seconds`.
void runLoad(const char *label, const QList<RawClient *> &clients, int seconds)
{
    QList<qint64> latencies;
    int errors = 0;
    int pending = 0;
    QElapsedTimer clock;
    clock.start();
    std::function<void(RawClient *, int)> next = [&](RawClient *client, int step) {
        if (clock.elapsed() >= seconds * 1000)
            return;
        const qint64 started = clock.nsecsElapsed();
        ++pending;
        const auto done = [&, client, step, started](int status) {
            --pending;
            latencies << (clock.nsecsElapsed() - started);
            if (status != 200)
                ++errors;
            else
                next(client, step + 1);
        };
        if (step % 2 == 0)
            client->send("GET", "/api/v1/documents/sync?since=0", {}, done);
        else
            client->send("POST", "/api/v1/documents/sync",
                         pushBody({document(QString("load-%1").arg(step % 20), step)}), done);
    };
    for (RawClient *client : clients)
        next(client, 0);
    while (clock.elapsed() < seconds * 1000 || pending > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double elapsed = clock.nsecsElapsed() / 1e9;
    std::sort(latencies.begin(), latencies.end());
    const auto percentile = [&](double p) {
        return latencies.value(qsizetype(p * (latencies.size() - 1))) / 1e6;
    };
    std::printf("%s: %lld clients, %.1f s: %lld requests, %.0f req/s, p50 %.1f ms, p99 %.1f ms, %d errors\n",
                label, qlonglong(clients.size()), elapsed, qlonglong(latencies.size()),
                latencies.size() / elapsed, percentile(0.5), percentile(0.99), errors);
}

QString createDatabase(const QString &cluster, const QTemporaryDir &dir)
{
    if (cluster.isEmpty())
        return "sqlite:" + dir.filePath("bench.sqlite");
    const QString name = "bench_" + QUuid::createUuid().toString(QUuid::Id128);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "setup");
        for (const QString &item : cluster.split(' ', Qt::SkipEmptyParts)) {
            if (item.startsWith("host="))
                db.setHostName(item.mid(5));
            else if (item.startsWith("user="))
                db.setUserName(item.mid(5));
            else if (item.startsWith("port="))
                db.setPort(item.mid(5).toInt());
        }
        db.setDatabaseName("postgres");
        if (!db.open() || !QSqlQuery(db).exec("CREATE DATABASE " + name))
            qFatal("PostgreSQL unavailable");
    }
    QSqlDatabase::removeDatabase("setup");
    return "postgres:" + cluster + " dbname=" + name;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype pgAt = args.indexOf("--postgres");
    const QString cluster = pgAt > 0 ? args.value(pgAt + 1) : QString();
    QTemporaryDir dir;
    const QString database = createDatabase(cluster, dir);

    QList<Client *> clients;
    {
        ServerOptions options;
        options.database = database;
        options.port = 0;
        options.passwordIterations = 1000;
        Server setup(options);
        if (!setup.start())
            qFatal("setup failed");
        for (int i = 0; i <= clientCount; ++i) { // the last one does the bulk run
            auto *client = new Client;
            client->token =
                setup.hooks().registerUser(QString("user%1@example.com").arg(i), "U").sessionToken;
            clients << client;
        }
    }
    QProcess service;
    service.setProgram(TESSIVO_BUILD_DIR "/tessivo-service/tessivo-service");
    service.setArguments({"--listen", "127.0.0.1:0", "--database", database});
    service.start();
    service.waitForReadyRead(10000);
    const QString base =
        QRegularExpression("http://127\\.0\\.0\\.1:\\d+").match(service.readAllStandardOutput()).captured(0);
    std::printf("backend: %s\n", cluster.isEmpty() ? "SQLite" : "PostgreSQL");

    // Bulk: the app's batches of 500.
    Client &bulk = *clients.takeLast();
    bool ok = true;
    QElapsedTimer timer;
    timer.start();
    for (int s = 0; s < documentCount; s += batchSize) {
        QJsonArray docs;
        for (int i = s; i < s + batchSize; ++i)
            docs.append(document(QString("doc-%1").arg(i), 1));
        bool batchOk = false;
        wait(send(bulk, base, "POST", "/api/v1/documents/sync", pushBody(docs)), &batchOk);
        ok = ok && batchOk;
    }
    const double pushSeconds = timer.nsecsElapsed() / 1e9;
    timer.restart();
    // The pull comes in pieces: follow the cursor while there are more.
    qsizetype pulledCount = 0, pulledBytes = 0, pieces = 0;
    qint64 cursor = 0;
    for (bool more = true; more && ok; ++pieces) {
        const QByteArray pulled =
            wait(send(bulk, base, "GET", QString("/api/v1/documents/sync?since=%1").arg(cursor)), &ok);
        const QJsonObject reply = QJsonDocument::fromJson(pulled).object();
        for (const QJsonValue &doc : reply["documents"].toArray())
            cursor = std::max(cursor, doc["serverUpdatedAt"].toInteger());
        pulledCount += reply["documents"].toArray().size();
        pulledBytes += pulled.size();
        more = reply["more"].toBool();
    }
    const double pullSeconds = timer.nsecsElapsed() / 1e9;
    std::printf("push %d docs of 4 KB in %d requests: %.2f s (%.1f req/s, %.0f docs/s)%s\n", documentCount,
                documentCount / batchSize, pushSeconds, documentCount / batchSize / pushSeconds,
                documentCount / pushSeconds, ok ? "" : " ERRORS");
    std::printf("pull %lld docs (%.1f MB) in %lld requests: %.2f s\n", qlonglong(pulledCount),
                pulledBytes / 1e6, qlonglong(pieces), pullSeconds);

    const quint16 port = QUrl(base).port();
    QList<RawClient *> load;
    for (int i = 0; i < clientCount; ++i)
        load << new RawClient(QString("127.0.0.%1").arg(2 + i % 250), port, clients[i]->token);
    runLoad("load", load, loadSeconds);
    QList<RawClient *> keepAlive;
    for (int i = 0; i < keepAliveCount; ++i)
        keepAlive << new RawClient(QString("127.0.0.%1").arg(2 + i % 250), port,
                                   clients[i % clientCount]->token);
    runLoad("keep-alive", keepAlive, loadSeconds);
    qDeleteAll(load);
    qDeleteAll(keepAlive);

    service.kill();
    service.waitForFinished();
    qDeleteAll(clients);
    delete &bulk;
    return ok ? 0 : 1;
}
