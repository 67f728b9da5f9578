#pragma once

#include "TestHooks.h"
#include "TestNeeds.h"
#include "protocol/Rules.h"

#include <QEventLoop>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>
#include <QUuid>

#include <memory>

// A service on a free loopback port with a database of its own: SQLite in a
// temporary folder, or a fresh PostgreSQL database when the test runs with
// TESSIVO_SERVICE_TEST_BACKEND=postgres (TESSIVO_TEST_POSTGRES then holds
// the cluster's connection options, e.g. "host=/tmp/pg user=tessivo").
namespace servicetest {

using namespace tessivo::server;

// Sets `db` up from libpq-style options ("host=/tmp/pg user=tessivo").
inline void applyPostgresOptions(QSqlDatabase &db, const QString &options)
{
    for (const QString &item : options.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = item.section(QLatin1Char('='), 0, 0), value = item.section(QLatin1Char('='), 1);
        if (key == QLatin1String("host"))
            db.setHostName(value);
        else if (key == QLatin1String("port"))
            db.setPort(value.toInt());
        else if (key == QLatin1String("user"))
            db.setUserName(value);
        else if (key == QLatin1String("dbname"))
            db.setDatabaseName(value);
    }
}

// A database spec for `Server`, or empty (with a QSKIP reason) when the
// wanted backend isn't available.
inline QString freshDatabase(const QTemporaryDir &dir, QString *skipReason)
{
    if (qEnvironmentVariable("TESSIVO_SERVICE_TEST_BACKEND") != QLatin1String("postgres"))
        return QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("service.sqlite"));
    const QString cluster = qEnvironmentVariable("TESSIVO_TEST_POSTGRES");
    if (cluster.isEmpty()) {
        *skipReason = QStringLiteral("TESSIVO_TEST_POSTGRES is not set");
        return {};
    }
    const QString name = QStringLiteral("tst_") + QUuid::createUuid().toString(QUuid::Id128);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        applyPostgresOptions(db, cluster);
        db.setDatabaseName(QStringLiteral("postgres"));
        if (!db.open() || !QSqlQuery(db).exec(QStringLiteral("CREATE DATABASE ") + name)) {
            *skipReason = QStringLiteral("PostgreSQL unavailable: ") + db.lastError().text();
            return {};
        }
    }
    QSqlDatabase::removeDatabase(name);
    QString spec = cluster;
    spec.remove(QRegularExpression(QStringLiteral("\\bdbname=\\S*")));
    return QStringLiteral("postgres:") + spec + QStringLiteral(" dbname=") + name;
}

struct Response
{
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        return {};
    }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// The body of a sync push.
inline QJsonObject pushBody(const QJsonArray &docs, const QJsonArray &collections = {})
{
    return {{QStringLiteral("docs"), docs}, {QStringLiteral("collections"), collections}};
}

// The "status" of each result of a push reply.
inline QStringList statuses(const QJsonArray &results)
{
    QStringList out;
    for (const QJsonValue &r : results)
        out << r[QStringLiteral("status")].toString();
    return out;
}

// One request through `network`, waited for; a body goes as JSON.
inline Response sendRequest(QNetworkAccessManager &network, const QByteArray &method, const QUrl &url,
                            const QString &token = {}, const QByteArray &body = {},
                            const QList<QPair<QByteArray, QByteArray>> &headers = {})
{
    QNetworkRequest request(url);
    if (!token.isEmpty())
        request.setRawHeader("authorization", protocol::bearerHeader(token));
    if (!body.isEmpty())
        request.setRawHeader("content-type", "application/json");
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply *reply = network.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(TestWaits::limitMs, &loop, &QEventLoop::quit);
    loop.exec();
    if (!reply->isFinished())
        reply->abort(); // no status: the test fails at its check
    Response response{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->error(),
                      reply->rawHeaderPairs(), reply->readAll()};
    reply->deleteLater();
    return response;
}

class Fixture
{
public:
    // False (and the test skipped) when the backend isn't available.
    // A given `options.database` is reused; empty means a fresh one.
    bool start(ServerOptions options = {})
    {
        if (options.database.isEmpty())
            options.database = freshDatabase(m_dir, &m_skip);
        if (options.database.isEmpty())
            return false;
        database = options.database;
        options.port = 0;
        options.passwordIterations = iterations;
        server = std::make_unique<Server>(options);
        QString error;
        if (!server->start(&error))
            qFatal("service didn't start: %s", qPrintable(error));
        m_network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        return true;
    }
    QString skipReason() const { return m_skip; }
    TestHooks hooks() const { return server->hooks(); }
    // A new user's session token.
    QString token(const QString &email = QStringLiteral("ann@example.com"))
    {
        return hooks().registerUser(email, QStringLiteral("Ann")).sessionToken;
    }

    QUrl url(const QString &pathAndQuery) const { return QUrl(server->baseUrl().toString() + pathAndQuery); }

    // A connection of the test's own to the service's database, named
    // `name` (remove it with QSqlDatabase::removeDatabase when done).
    QSqlDatabase openDatabase(const QString &name) const
    {
        if (database.startsWith(QLatin1String("sqlite:"))) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(database.mid(7));
            db.open();
            return db;
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        applyPostgresOptions(db, database.mid(9));
        db.open();
        return db;
    }

    Response call(const QByteArray &method, const QString &path, const QString &token = {},
                  const QByteArray &body = {}, const QList<QPair<QByteArray, QByteArray>> &headers = {})
    {
        return sendRequest(m_network, method, url(path), token, body, headers);
    }
    Response post(const QString &path, const QString &token, const QJsonObject &body)
    {
        return call("POST", path, token, QJsonDocument(body).toJson(QJsonDocument::Compact));
    }

    std::unique_ptr<Server> server;
    QString database;
    // PBKDF2 rounds for new accounts: few, unless a test needs real ones.
    int iterations = 1000;

private:
    QTemporaryDir m_dir;
    QString m_skip;
    QNetworkAccessManager m_network;
};

// Reads what a device receives as it comes, while it lives: into `into`,
// or dropped when that is null, so that a socket with a small read buffer
// keeps going. A wait then looks at what was received without reading.
class Reading
{
public:
    explicit Reading(QIODevice *device, QByteArray *into = nullptr)
        : m_connection(QObject::connect(device, &QIODevice::readyRead, device, [device, into] {
              const QByteArray got = device->readAll();
              if (into)
                  *into += got;
          }))
    {
        const QByteArray got = device->readAll();
        if (into)
            *into += got;
    }
    ~Reading() { QObject::disconnect(m_connection); }
    Reading(const Reading &) = delete;
    Reading &operator=(const Reading &) = delete;

private:
    QMetaObject::Connection m_connection;
};

} // namespace servicetest

#define START_SERVICE(fixture, ...)                                                                          \
    do {                                                                                                     \
        if (!(fixture).start(__VA_ARGS__))                                                                   \
            TESSIVO_NEED((fixture).skipReason());                                                            \
    } while (false)
