#include "ServiceFixture.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

using namespace servicetest;
using namespace Qt::StringLiterals;

// The service behind Debian's nginx with a plain proxy_pass, as the README
// sets it up: nginx speaks HTTP/1.0 upstream with "Connection: close" and
// sends a large body after the head.
class tst_ServiceBehindNginx : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        const QString nginx = QStandardPaths::findExecutable(u"nginx"_s, {u"/usr/sbin"_s, u"/usr/bin"_s});
        if (nginx.isEmpty())
            TESSIVO_NEED(u"nginx is not installed (scripts/install-deps.sh installs nginx-light)"_s);
        QTcpServer probe; // a free port for nginx
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        m_port = probe.serverPort();
        probe.close();

        ServerOptions options;
        options.listen = {{QHostAddress::LocalHost, 0}};
        options.trustedProxies = {QHostAddress(QHostAddress::LocalHost)};
        options.publicUrl = u"http://127.0.0.1:%1"_s.arg(m_port); // nginx's address
        m_service = std::make_unique<Fixture>();
        if (!m_service->start(options))
            TESSIVO_NEED(m_service->skipReason());

        QFile config(m_dir.filePath(u"nginx.conf"_s));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(u"daemon off; master_process off; pid %1/nginx.pid; error_log %1/error.log;\n"
                     "events { worker_connections 64; }\n"
                     "http {\n"
                     "  access_log off;\n"
                     "  client_body_temp_path %1/body; proxy_temp_path %1/proxy;\n"
                     "  fastcgi_temp_path %1/fastcgi; uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;\n"
                     "  client_max_body_size 200m; proxy_read_timeout 10s;\n"
                     "  server {\n"
                     "    listen 127.0.0.1:%2;\n"
                     "    location / {\n"
                     "      proxy_pass http://127.0.0.1:%3;\n"
                     "      proxy_set_header Host $host;\n"
                     "      proxy_set_header X-Forwarded-For $proxy_add_x_forwarded_for;\n"
                     "    }\n"
                     "  }\n"
                     "}\n"_s.arg(m_dir.path())
                         .arg(m_port)
                         .arg(m_service->server->port())
                         .toUtf8());
        config.close();
        m_nginx.setProgram(nginx);
        m_nginx.setArguments(
            {u"-e"_s, m_dir.filePath(u"error.log"_s), u"-p"_s, m_dir.path(), u"-c"_s, config.fileName()});
        m_nginx.setProcessChannelMode(QProcess::ForwardedChannels);
        m_nginx.start();
        QVERIFY(m_nginx.waitForStarted(TestWaits::limitMs));
        QTRY_VERIFY_WITH_TIMEOUT(call("GET", u"/"_s).status == 200, TestWaits::limitMs);
    }

    void cleanup()
    {
        m_nginx.terminate();
        m_nginx.waitForFinished(TestWaits::limitMs);
        m_service.reset();
    }

    void requestsPassThroughTheProxy_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("a 2 MB sync push")
            << QByteArray("POST") << u"/api/v1/documents/sync"_s
            << QJsonDocument(QJsonObject{{"docs", QJsonArray{QJsonObject{{"id", "big"},
                                                                         {"body", QString(2'000'000, u'x')},
                                                                         {"createdAt", 1},
                                                                         {"updatedAt", 1}}}}})
                   .toJson(QJsonDocument::Compact)
            << 200;
        QTest::newRow("a small pull")
            << QByteArray("GET") << u"/api/v1/documents/sync?since=0"_s << QByteArray() << 200;
    }

    void requestsPassThroughTheProxy()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        const QString token = m_service->token();
        const Response r = call(method, path, token, body);
        QCOMPARE(r.status, status);
        if (!body.isEmpty())
            QCOMPARE(r.json()["results"][0]["status"].toString(), u"ok"_s);
    }

    // Images come back whole through the proxy too, whatever their size.
    void imagesComeBackWhole_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::newRow("1 byte") << qint64(1);
        QTest::newRow("256 KiB - 1") << qint64(256 * 1024 - 1);
        QTest::newRow("256 KiB + 1") << qint64(256 * 1024 + 1);
        QTest::newRow("3 MiB") << qint64(3 * 1024 * 1024);
        QTest::newRow("10 MiB, the limit") << qint64(10 * 1024 * 1024);
    }

    void imagesComeBackWhole()
    {
        QFETCH(qint64, size);
        QByteArray image(size, Qt::Uninitialized);
        for (qint64 i = 0; i < size; ++i)
            image[i] = char(i * 5 / 3);
        const Response upload =
            call("POST", u"/api/v1/images"_s, m_service->token(),
                 "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.png\"\r\n"
                 "Content-Type: image/png\r\n\r\n" +
                     image + "\r\n--b--\r\n",
                 {{"content-type", "multipart/form-data; boundary=b"}});
        QCOMPARE(upload.status, 201);
        const Response download = call("GET", u"/media/"_s + upload.json()["id"].toString());
        QCOMPARE(download.status, 200);
        QCOMPARE(download.error, QNetworkReply::NoError);
        QCOMPARE(download.body.size(), size);
        QVERIFY(download.body == image);
    }

    // What a client writes into X-Forwarded-For itself stands in front of
    // what nginx appends: it doesn't make each guess another client's.
    void forgedForwardedForDoesNotDodgeTheSignInLimit()
    {
        m_service->hooks().registerUser("ann@example.com", "Ann", "ann's password");
        const QByteArray form = "provider=github&mode=signin&email=ann%40example.com&password=guess";
        QList<int> statuses;
        for (int i = 0; i < 11; ++i) {
            QTcpSocket socket;
            socket.bind(QHostAddress(u"127.0.0.5"_s));
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            socket.write(
                "POST /api/v1/auth/native-signin HTTP/1.1\r\nhost: 127.0.0.1\r\nconnection: close\r\n"
                "x-forwarded-for: 10.1.1." +
                QByteArray::number(i) +
                "\r\ncontent-type: application/x-www-form-urlencoded\r\ncontent-length: " +
                QByteArray::number(form.size()) + "\r\n\r\n" + form);
            QByteArray reply;
            {
                const Reading reading(&socket, &reply);
                QTRY_VERIFY(reply.size() >= 12);
            }
            statuses.append(reply.mid(9, 3).toInt());
        }
        QCOMPARE(statuses, QList<int>(10, 401) << 429);
    }

    // nginx passes the client's Host on: a name rebound to the proxy's
    // address isn't answered, where nginx's own upstream name would be.
    void theClientsHostIsChecked()
    {
        const QByteArray rebound = "evil.test:" + QByteArray::number(m_port);
        QCOMPARE(call("GET", u"/"_s, {}, {}, {{"host", rebound}}).status, 421);
        QCOMPARE(call("GET", u"/"_s).status, 200);
    }

private:
    Response call(const QByteArray &method, const QString &path, const QString &token = {},
                  const QByteArray &body = {}, const QList<QPair<QByteArray, QByteArray>> &headers = {})
    {
        return sendRequest(m_network, method, QUrl(u"http://127.0.0.1:%1%2"_s.arg(m_port).arg(path)), token,
                           body, headers);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Fixture> m_service;
    QProcess m_nginx;
    quint16 m_port = 0;
    QNetworkAccessManager m_network;
};

QTEST_GUILESS_MAIN(tst_ServiceBehindNginx)
#include "tst_servicebehindnginx.moc"
