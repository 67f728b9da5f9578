#include "ServiceFixture.h"

#include "protocol/RandomRecords.h"
#include "protocol/WireRecords.h"

#include <QJsonArray>
#include <QSet>
#include <QSqlQuery>

#include <algorithm>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace servicetest;
using namespace Qt::StringLiterals;

// Pushed records are held to the rules the app reads them with, so that no
// stored record can make a device's pull fail.
class tst_ServiceRecords : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> f;
    QString t;

    QJsonObject push(const QJsonArray &docs, const QJsonArray &collections = {})
    {
        return f->post("/api/v1/documents/sync", t, {{"docs", docs}, {"collections", collections}}).json();
    }
    Response pull() { return f->call("GET", "/api/v1/documents/sync?since=0", t); }

private slots:
    void init()
    {
        f = std::make_unique<Fixture>();
        START_SERVICE(*f);
        t = f->token();
    }

    void recordsTheAppCannotReadAreInvalid_data()
    {
        QTest::addColumn<QByteArray>("member"); // added to a good document
        QTest::newRow("updatedAt 1e300") << R"("updatedAt":1e300)"_ba;
        QTest::newRow("updatedAt 2^63") << R"("updatedAt":9223372036854775808)"_ba;
        QTest::newRow("updatedAt -9.3e18") << R"("updatedAt":-9.3e18)"_ba;
        QTest::newRow("overrides of booleans") << R"("overrides":{"title":true})"_ba;
        QTest::newRow("frontmatter tags not strings") << R"("frontmatter":{"tags":[1]})"_ba;
    }

    void recordsTheAppCannotReadAreInvalid()
    {
        QFETCH(QByteArray, member);
        const QByteArray stamp = member.contains("updatedAt") ? QByteArray() : R"("updatedAt":2,)"_ba;
        const QByteArray bad = R"({"id":"bad","createdAt":1,)" + stamp + member + "}";
        const QByteArray body = R"({"docs":[)" + bad + R"(,{"id":"good","createdAt":1,"updatedAt":2}]})";
        const QJsonObject reply = f->call("POST", "/api/v1/documents/sync", t, body).json();
        const std::optional<SyncPushResponse> decoded = SyncPushResponse::fromJson(reply);
        QVERIFY(decoded);
        QCOMPARE(decoded->results.size(), 2);
        QCOMPARE(decoded->results[0].status, u"invalid"_s);
        // The decoder's own message names the member.
        QString expected;
        QVERIFY(!Document::fromJson(QJsonDocument::fromJson(bad).object(), &expected));
        QCOMPARE(decoded->results[0].error.value_or(QString()), expected);
        QCOMPARE(decoded->results[1].status, u"ok"_s);
        const std::optional<SyncPullResponse> pulled = SyncPullResponse::fromJson(pull().json());
        QVERIFY(pulled);
        QCOMPARE(pulled->documents.size(), 1);
    }

    // Whatever the app's encoder writes is stored.
    void everyRecordTheAppWritesIsOk()
    {
        RandomRecords random(7);
        for (int round = 0; round < 10; ++round) {
            QJsonArray docs, collections;
            for (int i = 0; i < 50; ++i) {
                docs.append(random.document().toJson());
                collections.append(random.collection().toJson());
            }
            const std::optional<SyncPushResponse> reply = SyncPushResponse::fromJson(push(docs, collections));
            QVERIFY(reply);
            for (const auto &result :
                 reply->results + reply->collectionResults.value_or(QList<SyncPushResponse::Result>()))
                QVERIFY2(result.status == u"ok"_s, qPrintable(result.error.value_or(result.status)));
        }
        const std::optional<SyncPullResponse> pulled = SyncPullResponse::fromJson(pull().json());
        QVERIFY(pulled);
        QCOMPARE(pulled->documents.size(), 500);
        QCOMPARE(pulled->collections->size(), 500);
    }

    // Records stored before pushes were checked this way can't block a pull.
    void aPullLeavesOutStoredRecordsTheAppCannotRead()
    {
        const Account account = f->hooks().registerUser("cy@example.com", "Cy");
        t = account.sessionToken;
        const QString owner = account.userId;
        f->hooks().injectDocument(
            owner,
            {{"id", "old"}, {"createdAt", 1}, {"updatedAt", 1}, {"overrides", QJsonObject{{"title", true}}}});
        f->hooks().injectCollection(owner,
                                    {{"id", "oldc"}, {"createdAt", 1}, {"updatedAt", 1}, {"position", 0.5}});
        push({QJsonObject{{"id", "new"}, {"createdAt", 1}, {"updatedAt", 1}}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("left a stored document .*'overrides'"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("left a stored collection .*'position'"));
        const std::optional<SyncPullResponse> pulled = SyncPullResponse::fromJson(pull().json());
        QVERIFY(pulled);
        QCOMPARE(pulled->documents.size(), 1);
        QCOMPARE(pulled->documents[0].id, u"new"_s);
        QVERIFY(pulled->collections->isEmpty());
    }

    void aPullComesInPieces_data()
    {
        QTest::addColumn<qint64>("partBytes");
        QTest::newRow("each piece whole") << ServiceLimits().pullPartBytes;
        QTest::newRow("each piece sent in parts") << qint64(300);
    }

    // A pull answers in pieces, documents and collections in one stamp
    // order: a piece stays within its size unless one record is larger, is
    // never cut between two records of one stamp, and says "more" until the
    // last, so that following the cursor brings every record once.
    void aPullComesInPieces()
    {
        QFETCH(qint64, partBytes);
        ServerOptions options;
        options.limits.pullPieceBytes = 2000;
        options.limits.pullPartBytes = partBytes;
        Fixture pieces;
        START_SERVICE(pieces, options);
        const Account account = pieces.hooks().registerUser("pi@example.com", "Pi");
        QSet<QString> pushed;
        for (int i = 0; i < 12; ++i) {
            QJsonArray docs{QJsonObject{{"id", u"d%1"_s.arg(i)},
                                        {"body", QString(i == 5 ? 5000 : 300 + 40 * i, u'x')},
                                        {"createdAt", 1},
                                        {"updatedAt", 1}}};
            QJsonArray collections;
            if (i % 3 == 0)
                collections.append(
                    QJsonObject{{"id", u"c%1"_s.arg(i)}, {"name", "C"}, {"createdAt", 1}, {"updatedAt", 1}});
            QCOMPARE(pieces.post("/api/v1/documents/sync", account.sessionToken, pushBody(docs, collections))
                         .status,
                     200);
            pushed << u"d%1"_s.arg(i);
            if (i % 3 == 0)
                pushed << u"c%1"_s.arg(i);
        }
        {
            // Two records of one stamp, as a database from before stamps
            // were kept apart may hold.
            QSqlDatabase db = pieces.openDatabase(u"side"_s);
            QSqlQuery q(db);
            QVERIFY(q.exec(u"UPDATE documents SET stamp = (SELECT stamp FROM documents WHERE id = 'd8') "
                           "WHERE id = 'd9'"_s));
        }
        QSqlDatabase::removeDatabase(u"side"_s);

        qint64 cursor = 0;
        QSet<QString> pulled;
        int replies = 0;
        for (bool more = true; more; ++replies) {
            QVERIFY(replies < 20);
            const Response r =
                pieces.call("GET", u"/api/v1/documents/sync?since=%1"_s.arg(cursor), account.sessionToken);
            QCOMPARE(r.status, 200);
            const QJsonObject reply = r.json();
            const std::optional<SyncPullResponse> decoded = SyncPullResponse::fromJson(reply);
            QVERIFY(decoded);
            more = reply.value("more").toBool();
            QCOMPARE(decoded->more, more);
            QList<QPair<qint64, QString>> records;
            qint64 bytes = 0;
            for (const char *list : {"documents", "collections"}) {
                for (const QJsonValue &record : reply.value(QLatin1String(list)).toArray()) {
                    records.append({record[u"serverUpdatedAt"_s].toInteger(), record[u"id"_s].toString()});
                    bytes += QJsonDocument(record.toObject()).toJson(QJsonDocument::Compact).size();
                }
            }
            QVERIFY(!records.isEmpty());
            std::sort(records.begin(), records.end());
            QVERIFY(records.first().first > cursor);
            const bool pair = std::any_of(records.begin(), records.end(),
                                          [](const auto &rec) { return rec.second == u"d8"_s; });
            QCOMPARE(pair, std::any_of(records.begin(), records.end(),
                                       [](const auto &rec) { return rec.second == u"d9"_s; }));
            QVERIFY2(bytes <= 2000 || records.size() == 1 || (pair && records.size() == 2),
                     qPrintable(u"%1 bytes in %2 records"_s.arg(bytes).arg(records.size())));
            for (const auto &[stamp, id] : std::as_const(records)) {
                QVERIFY2(!pulled.contains(id), qPrintable(id));
                pulled << id;
            }
            cursor = records.last().first;
        }
        QCOMPARE(pulled, pushed);
        QVERIFY(replies > 4);
        // Past the last record: an empty reply, without "more".
        const QJsonObject after =
            pieces.call("GET", u"/api/v1/documents/sync?since=%1"_s.arg(cursor), account.sessionToken).json();
        QVERIFY(after.value("documents").toArray().isEmpty() && !after.contains("more"));
    }

    // A piece sent in parts reads each part as the client takes the one
    // before. A record changed meanwhile is stamped past the piece: it is
    // left for the next pull rather than sent twice or skipped. To HTTP/1.0
    // the body ends with the connection, there being no chunks.
    void aRecordChangedWhileItsPieceIsSentComesNext()
    {
        ServerOptions options;
        options.limits.pullPartBytes = 16 * 1024;
        Fixture parts;
        START_SERVICE(parts, options);
        const Account account = parts.hooks().registerUser("pa@example.com", "Pa");
        const auto document = [](int i, qint64 updatedAt) {
            return QJsonObject{{"id", u"d%1"_s.arg(i)},
                               {"body", QString(32 * 1024, updatedAt == 1 ? u'a' : u'b')},
                               {"createdAt", 1},
                               {"updatedAt", updatedAt}};
        };
        constexpr int count = 128; // 4 MiB, more than the kernel's buffers take unread
        for (int i = 0; i < count; ++i)
            parts.hooks().injectDocument(account.userId, document(i, 1));

        // A reader with a small window, which takes the head and then
        // nothing until the record has changed.
        const int slow = ::socket(AF_INET, SOCK_STREAM, 0);
        const int window = 4096;
        ::setsockopt(slow, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
        sockaddr_in service{};
        service.sin_family = AF_INET;
        service.sin_port = htons(parts.server->port());
        service.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(slow, reinterpret_cast<sockaddr *>(&service), sizeof service), 0);
        ::fcntl(slow, F_SETFL, O_NONBLOCK);
        const QByteArray request = "GET /api/v1/documents/sync?since=0 HTTP/1.0\r\nhost: localhost\r\n"
                                   "authorization: Bearer " +
                                   account.sessionToken.toLatin1() + "\r\n\r\n";
        QCOMPARE(::send(slow, request.constData(), request.size(), 0), request.size());
        QByteArray received;
        bool closed = false;
        // The client reads now and then, what has come each time.
        QTimer reader;
        QObject::connect(&reader, &QTimer::timeout, [&] {
            char buffer[64 * 1024];
            ssize_t n;
            while ((n = ::recv(slow, buffer, sizeof buffer, 0)) > 0)
                received.append(buffer, n);
            closed = closed || n == 0;
        });
        reader.start(50);
        QTRY_VERIFY(received.contains("\r\n\r\n"));
        parts.hooks().injectDocument(account.userId, document(count - 1, 2));
        QTRY_VERIFY(closed);
        reader.stop();
        ::close(slow);
        const qsizetype bodyAt = received.indexOf("\r\n\r\n") + 4;
        QVERIFY(received.startsWith("HTTP/1.1 200 "));
        QVERIFY(!received.left(bodyAt).toLower().contains("transfer-encoding"));
        const std::optional<SyncPullResponse> first =
            SyncPullResponse::fromJson(QJsonDocument::fromJson(received.mid(bodyAt)).object());
        QVERIFY(first);
        QCOMPARE(first->documents.size(), count - 1);
        QVERIFY(!first->more);
        qint64 cursor = 0;
        for (const Document &d : first->documents) {
            QVERIFY(d.id != u"d%1"_s.arg(count - 1));
            cursor = std::max(cursor, *d.serverUpdatedAt);
        }
        const std::optional<SyncPullResponse> next = SyncPullResponse::fromJson(
            parts.call("GET", u"/api/v1/documents/sync?since=%1"_s.arg(cursor), account.sessionToken).json());
        QVERIFY(next);
        QCOMPARE(next->documents.size(), 1);
        QCOMPARE(next->documents[0].id, u"d%1"_s.arg(count - 1));
        QCOMPARE(next->documents[0].updatedAt, qint64(2));
    }
};

QTEST_GUILESS_MAIN(tst_ServiceRecords)
#include "tst_servicerecords.moc"
