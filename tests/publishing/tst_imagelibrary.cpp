#include "editor/core/CappedFileRead.h"
#include "publishing/core/ImageLibrary.h"
#include "publishing/core/MediaUploadBatch.h"
#include "service/core/APIClient.h"

#include "Server.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace tessivo::server;
Q_DECLARE_METATYPE(tessivo::server::ScriptedReply)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

template <typename T>
T waitFor(QFuture<T> future)
{
    if (!QTest::qWaitFor([&] { return future.isFinished(); }, 15'000))
        qWarning("still running");
    if constexpr (!std::is_void_v<T>)
        return future.result();
}

} // namespace

class TestImageLibrary : public QObject
{
    Q_OBJECT

    std::unique_ptr<Server> m_server;
    std::optional<QString> m_token;
    QString m_userToken;
    std::unique_ptr<APIClient> m_client;
    std::unique_ptr<ImageLibrary> m_library;
    QTemporaryDir m_dir;

    TestHooks hooks() { return m_server->hooks(); }
    QList<LoggedRequest> requests(const QString &path)
    {
        QList<LoggedRequest> found;
        for (const LoggedRequest &request : hooks().requestLog()) {
            if (request.path == path)
                found << request;
        }
        return found;
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
        m_client = std::make_unique<APIClient>(m_server->baseUrl());
        m_client->setTokenProvider([this] { return m_token; });
        m_userToken = hooks().registerUser(u"ada@example.com"_s, u"Ada"_s).sessionToken;
    }

    void init()
    {
        m_token =
            hooks().registerUser(QUuid::createUuid().toString() + u"@example.com"_s, u"Ada"_s).sessionToken;
        m_library = std::make_unique<ImageLibrary>(m_client.get());
        hooks().clearRequestLog();
    }

    // The multipart body, byte for byte as the service received it.
    void multipartBytes_data()
    {
        QTest::addColumn<std::optional<QString>>("documentID");
        QTest::addColumn<QString>("filename");
        QTest::addColumn<QByteArray>("parts"); // with B for the boundary

        const QByteArray file = "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"";
        QTest::newRow("document id first")
            << std::optional(u"doc-1"_s) << u"cat.png"_s
            << "--B\r\nContent-Disposition: form-data; name=\"doc_id\"\r\n\r\ndoc-1\r\n" + file +
                   "cat.png\"\r\nContent-Type: image/png\r\n\r\n\x89PNG\0\r\n\r\n--B--\r\n"_ba;
        QTest::newRow("empty document id still sent")
            << std::optional(QString()) << u"cat.png"_s
            << "--B\r\nContent-Disposition: form-data; name=\"doc_id\"\r\n\r\n\r\n" + file +
                   "cat.png\"\r\nContent-Type: image/png\r\n\r\n\x89PNG\0\r\n\r\n--B--\r\n"_ba;
        QTest::newRow("quotes and line breaks in the name")
            << std::optional<QString>() << u"say \"hi\"\r\n.png"_s
            << file + "say 'hi'.png\"\r\nContent-Type: image/png\r\n\r\n\x89PNG\0\r\n\r\n--B--\r\n"_ba;
    }

    void multipartBytes()
    {
        QFETCH(std::optional<QString>, documentID);
        QFETCH(QString, filename);
        QFETCH(QByteArray, parts);

        const auto result =
            waitFor(m_library->upload("\x89PNG\0\r\n"_ba, filename, u"image/png"_s, documentID));
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.failure().description()));
        QCOMPARE(result->contentType.value_or(QString()), u"image/png"_s);
        const QList<LoggedRequest> sent = requests(u"/api/v1/images"_s);
        QCOMPARE(sent.size(), 1);
        const QByteArray type = sent.first().header("content-type");
        static const QRegularExpression form(
            u"^multipart/form-data; boundary=(Tessivo-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})$"_s);
        const QRegularExpressionMatch match = form.match(QString::fromLatin1(type));
        QVERIFY2(match.hasMatch(), type.constData());
        QCOMPARE(sent.first().body, QByteArray(parts).replace("--B", "--" + match.captured(1).toLatin1()));
        QCOMPARE(sent.first().header("authorization"), "Bearer " + m_token->toUtf8());
        QCOMPARE(m_library->images(), QList<ImageAsset>{result.value()});
    }

    // What an upload makes of the service's reply.
    void uploadReplies_data()
    {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("outcome"); // error code, "decoding", or the asset
        QTest::addColumn<int>("listed");

        QTest::newRow("minimal reply fills in from the upload")
            << ScriptedReply{201, R"({"url":"u1","id":"1"})"} << u"1 a\"b.png 3 now"_s << 1;
        QTest::newRow("untracked fails and lists nothing")
            << ScriptedReply{201, R"({"url":"u","id":"1","untracked":true})"} << u"untracked"_s << 0;
        QTest::newRow("untracked false passes")
            << ScriptedReply{201, R"({"url":"u","id":"2","untracked":false,"size":9,"createdAt":5})"}
            << u"2 a\"b.png 9 5"_s << 1;
        QTest::newRow("service refuses the size")
            << ScriptedReply{413, R"({"error":{"code":"too_large","message":"Too big."}})"} << u"too_large"_s
            << 0;
        QTest::newRow("reply without an id") << ScriptedReply{201, R"({"url":"u"})"} << u"decoding"_s << 0;
        QTest::newRow("connection dropped") << ScriptedReply{200, {}, {}, true} << u"network"_s << 0;
    }

    void uploadReplies()
    {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, outcome);
        QFETCH(int, listed);

        hooks().forceReply("POST", u"/api/v1/images"_s, 1, reply);
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const auto result = waitFor(m_library->upload("abc", u"a\"b.png"_s, u"image/png"_s, std::nullopt));
        QString got;
        if (!result.ok())
            got = result.failure().isAPIError() ? result.failure().apiError().code : u"decoding"_s;
        else
            got = u"%1 %2 %3 %4"_s.arg(result->id, result->filename)
                      .arg(*result->size)
                      .arg(*result->createdAt >= before && reply.body.count("createdAt") == 0
                               ? u"now"_s
                               : QString::number(*result->createdAt));
        QCOMPARE(got, outcome);
        QCOMPARE(m_library->images().size(), listed);
    }

    // 10 MB exactly goes out; one byte more is refused here, unsent. A
    // second upload of a listed id leaves the list alone.
    void sizeLimitAndDuplicates()
    {
        const QByteArray limit(ImageLibrary::maxUploadBytes, 'x');
        const auto over = waitFor(m_library->upload(limit + 'x', u"big.png"_s, u"image/png"_s, std::nullopt));
        QCOMPARE(over.failure().apiError().message, u"Images must be 10 MB or smaller."_s);
        QCOMPARE(over.failure().apiError().status, 413);
        QVERIFY(requests(u"/api/v1/images"_s).isEmpty());
        // Exactly the limit goes out (to a port where nothing listens).
        APIClient nowhere(QUrl(u"http://127.0.0.1:1"_s));
        ImageLibrary unreachable(&nowhere);
        const auto sent = waitFor(unreachable.upload(limit, u"big.png"_s, u"image/png"_s, std::nullopt));
        QCOMPARE(sent.failure().apiError().message, u"Couldn't reach 127.0.0.1. Check your connection."_s);

        const QByteArray same = R"({"url":"u","id":"same"})";
        hooks().forceReply("POST", u"/api/v1/images"_s, 1, {201, same});
        hooks().forceReply("POST", u"/api/v1/images"_s, 2, {201, same});
        waitFor(m_library->upload("a", u"a.png"_s, u"image/png"_s, std::nullopt));
        QSignalSpy changed(m_library.get(), &ImageLibrary::imagesChanged);
        QVERIFY(waitFor(m_library->upload("a", u"a.png"_s, u"image/png"_s, std::nullopt)).ok());
        QCOMPARE(changed.count(), 0);
        QCOMPARE(m_library->images().size(), 1);
    }

    void listing_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<ScriptedReply>("reply"); // status 0: the service's own
        QTest::addColumn<QString>("error");

        QTest::newRow("signed out") << false << ScriptedReply{0} << u"Sign in to continue."_s;
        QTest::newRow("reply that does not decode")
            << true << ScriptedReply{200, R"({"images":[{"id":"1","url":"u"}]})"}
            << u"Couldn't load your media library."_s;
        QTest::newRow("service error") << true << ScriptedReply{500, R"({"message":"Down."})"} << u"Down."_s;
    }

    // A failed load keeps the listed images, counts as loaded, and is not
    // repeated without force.
    void listing()
    {
        QFETCH(bool, signedIn);
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, error);

        waitFor(m_library->upload("a", u"kept.png"_s, u"image/png"_s, std::nullopt));
        if (!signedIn)
            m_token.reset();
        if (reply.status)
            hooks().forceReply("GET", u"/api/images"_s, 1, reply);
        waitFor(m_library->load(false));
        QCOMPARE(m_library->error(), std::optional(error));
        QVERIFY(m_library->loaded() && !m_library->isLoading());
        QCOMPARE(m_library->images().size(), 1);
        waitFor(m_library->load(false));
        QCOMPARE(requests(u"/api/images"_s).size(), 1);
    }

    // A list or an upload that lands after sign-out puts nothing of the
    // earlier account back: the load only clears its busy flag, the upload
    // answers its caller.
    void signOutDuringRequests()
    {
        m_token = hooks().registerUser(u"grace@example.com"_s, u"Grace"_s).sessionToken;
        waitFor(m_library->upload("a", u"old.png"_s, u"image/png"_s, std::nullopt));
        m_library = std::make_unique<ImageLibrary>(m_client.get());

        const QFuture<void> load = m_library->load(false);
        const auto upload = m_library->upload("b", u"late.png"_s, u"image/png"_s, std::nullopt);
        m_library->resetForSignOut();
        QVERIFY(m_library->isLoading());
        waitFor(load);
        QVERIFY(waitFor(upload).ok());
        QVERIFY(m_library->images().isEmpty());
        QVERIFY(!m_library->isLoading() && !m_library->loaded() && !m_library->error());

        waitFor(m_library->load(false));
        QCOMPARE(m_library->images().size(), 2);
    }

    // A 20 GB file (sparse) with an image name: refused from its size on
    // disk, without a byte read and without a request.
    void hugeFileIsNotRead()
    {
        const QString path = m_dir.filePath(u"huge.png"_s);
        QFile huge(path);
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(20LL << 30));
        huge.close();
        const CappedFileRead read = CappedFileRead::read(path, ImageLibrary::maxUploadBytes);
        QCOMPARE(read.status, CappedFileRead::Status::tooLarge);
        QCOMPARE(read.bytesRead, 0);

        QFile small(m_dir.filePath(u"small.png"_s));
        QVERIFY(small.open(QIODevice::WriteOnly) && small.write("PNG") == 3);
        small.close();
        MediaUploadBatch *batch = MediaUploadBatch::start(
            m_library.get(), {QUrl::fromLocalFile(small.fileName()), QUrl::fromLocalFile(path)}, u"d"_s);
        QSignalSpy failed(batch, &MediaUploadBatch::failed);
        QSignalSpy finished(batch, &MediaUploadBatch::finished);
        QVERIFY(finished.wait(15'000));
        QCOMPARE(failed.value(0).value(0).toString(), u"Images must be 10 MB or smaller."_s);
        QCOMPARE(requests(u"/api/v1/images"_s).size(), 1);
        QFile::remove(path);
    }
};

QTEST_GUILESS_MAIN(TestImageLibrary)
#include "tst_imagelibrary.moc"
