#include "publishing/core/ImageLibrary.h"
#include "publishing/core/MediaUploadBatch.h"
#include "store/CappedFileRead.h"

#include "service/LocalServer.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace tessivo::server;
Q_DECLARE_METATYPE(tessivo::server::ScriptedReply)

namespace {

template <typename T>
T waitFor(QFuture<T> future)
{
    if (!QTest::qWaitFor([&] { return future.isFinished(); }, TestWaits::limitMs))
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
        QList<LoggedRequest> log = hooks().requestLog();
        log.removeIf([&](const LoggedRequest &request) { return request.path != path; });
        return log;
    }
    APIResult<ImageAsset> upload(const QByteArray &data, const QString &name = u"a.png"_s,
                                 const std::optional<QString> &documentID = {})
    {
        return waitFor(m_library->upload(data, name, u"image/png"_s, documentID));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = startLocalServer();
        m_client = std::make_unique<APIClient>(m_server->baseUrl());
        m_client->setTokenProvider([this] { return m_token; });
        m_userToken = hooks().registerUser(u"ada@example.com"_s, u"Ada"_s).sessionToken;
    }

    void init()
    {
        m_token = m_userToken;
        m_library = std::make_unique<ImageLibrary>(m_client.get());
        hooks().clearRequestLog();
    }

    // The multipart body, byte for byte as the service received it.
    void multipartBytes_data()
    {
        QTest::addColumn<QString>("documentID"); // "-": none
        QTest::addColumn<QString>("filename");
        QTest::addColumn<QByteArray>("parts"); // with B for the boundary

        const QByteArray file = "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"";
        QTest::newRow("document id first")
            << u"doc-1"_s << u"cat.png"_s
            << "--B\r\nContent-Disposition: form-data; name=\"doc_id\"\r\n\r\ndoc-1\r\n" + file +
                   "cat.png\"\r\nContent-Type: image/png\r\n\r\n\x89PNG\0\r\n\r\n--B--\r\n"_ba;
        QTest::newRow("no document id; quotes and line breaks in the name")
            << u"-"_s << u"say \"hi\"\r\n.png"_s
            << file + "say 'hi'.png\"\r\nContent-Type: image/png\r\n\r\n\x89PNG\0\r\n\r\n--B--\r\n"_ba;
    }

    void multipartBytes()
    {
        QFETCH(QString, documentID);
        QFETCH(QString, filename);
        QFETCH(QByteArray, parts);

        const auto result = upload("\x89PNG\0\r\n"_ba, filename,
                                   documentID == u"-" ? std::nullopt : std::optional(documentID));
        QVERIFY(result.ok());
        const QList<LoggedRequest> sent = requests(u"/api/v1/images"_s);
        QCOMPARE(sent.size(), 1);
        static const QRegularExpression form(
            u"^multipart/form-data; boundary=(Tessivo-[0-9A-F]{8}-(?:[0-9A-F]{4}-){3}"
            "[0-9A-F]{12})$"_s);
        const QRegularExpressionMatch match =
            form.match(QString::fromLatin1(sent.first().header("content-type")));
        QVERIFY(match.hasMatch());
        QCOMPARE(sent.first().body, QByteArray(parts).replace("--B", "--" + match.captured(1).toLatin1()));
        QCOMPARE(sent.first().header("authorization"), "Bearer " + m_token->toUtf8());
        QCOMPARE(m_library->images(), QList<ImageAsset>{result.value()});
    }

    // What an upload makes of the service's reply.
    void uploadReplies_data()
    {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<QString>("outcome"); // error code, "decoding", or the asset

        QTest::newRow("minimal reply: name, size and time from the upload")
            << ScriptedReply{201, R"({"url":"u1","id":"1"})"} << u"1 a\"b.png 3 now"_s;
        QTest::newRow("untracked fails, nothing listed")
            << ScriptedReply{201, R"({"url":"u","id":"1","untracked":true})"} << u"untracked"_s;
        QTest::newRow("service refuses")
            << ScriptedReply{413, R"({"error":{"code":"too_large","message":"Too big."}})"} << u"too_large"_s;
        QTest::newRow("reply without an id") << ScriptedReply{201, R"({"url":"u"})"} << u"decoding"_s;
    }

    void uploadReplies()
    {
        QFETCH(ScriptedReply, reply);
        QFETCH(QString, outcome);

        hooks().forceReply("POST", u"/api/v1/images"_s, 1, reply);
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const auto result = upload("abc", u"a\"b.png"_s);
        QString got = u"decoding"_s;
        if (result.ok())
            got = u"%1 %2 %3 %4"_s.arg(result->id, result->filename)
                      .arg(*result->size)
                      .arg(*result->createdAt >= before ? u"now"_s : QString());
        else if (result.failure().isAPIError())
            got = result.failure().apiError().code;
        QCOMPARE(got, outcome);
        QCOMPARE(m_library->images().size(), result.ok() ? 1 : 0);
    }

    // 10 MB exactly goes out; one byte more is refused here, unsent.
    void sizeLimit()
    {
        const QByteArray limit(ImageLibrary::maxUploadBytes, 'x');
        const APIError over = upload(limit + 'x').failure().apiError();
        QCOMPARE(over.message, u"Images must be 10 MB or smaller."_s);
        QCOMPARE(over.status, 413);
        QVERIFY(requests(u"/api/v1/images"_s).isEmpty());
        APIClient nowhere(QUrl(u"http://127.0.0.1:1"_s)); // nothing listens: only proves it was sent
        QCOMPARE(waitFor(ImageLibrary(&nowhere).upload(limit, {}, {}, {})).failure().apiError().code,
                 u"network"_s);
    }

    // A failed load keeps the listed images, counts as loaded and is not
    // repeated without force.
    void failedLoads()
    {
        upload("a", u"kept.png"_s);
        m_token.reset();
        waitFor(m_library->load(false));
        QCOMPARE(m_library->error(), std::optional(u"Sign in to continue."_s));
        QVERIFY(m_library->loaded() && !m_library->isLoading());
        QCOMPARE(m_library->images().size(), 1);
        waitFor(m_library->load(false));
        QCOMPARE(requests(u"/api/images"_s).size(), 1);

        m_token = m_userToken;
        hooks().forceReply("GET", u"/api/images"_s, 1, {200, R"({"images":[{"id":"1","url":"u"}]})"});
        waitFor(m_library->load(true));
        QCOMPARE(m_library->error(), std::optional(u"Couldn't load your media library."_s));
    }

    // A list or an upload that lands after sign-out puts nothing of the
    // earlier account back: the load only clears its busy flag, the upload
    // answers its caller.
    void signOutDuringRequests()
    {
        m_token = hooks().registerUser(u"grace@example.com"_s, u"Grace"_s).sessionToken;
        upload("a", u"old.png"_s);
        m_library = std::make_unique<ImageLibrary>(m_client.get());
        const QFuture<void> load = m_library->load(false);
        const auto late = m_library->upload("b", u"late.png"_s, u"image/png"_s, std::nullopt);
        m_library->resetForAccountChange();
        QVERIFY(m_library->isLoading());
        waitFor(load);
        QVERIFY(waitFor(late).ok());
        QVERIFY(m_library->images().isEmpty());
        QVERIFY(!m_library->isLoading() && !m_library->loaded() && !m_library->error());
        waitFor(m_library->load(false));
        QCOMPARE(m_library->images().size(), 2);
    }

    // A 20 GB file (sparse) with an image name is refused from its size on
    // disk, without a byte read, and ends the batch without a request.
    void hugeFileIsNotRead()
    {
        QFile huge(m_dir.filePath(u"huge.png"_s));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(20LL << 30));
        const CappedFileRead read = CappedFileRead::read(huge.fileName(), ImageLibrary::maxUploadBytes);
        QCOMPARE(read.status, CappedFileRead::Status::tooLarge);
        QCOMPARE(read.bytesRead, 0);

        QFile small(m_dir.filePath(u"small.png"_s));
        QVERIFY(small.open(QIODevice::WriteOnly) && small.write("PNG") == 3);
        small.close();
        MediaUploadBatch *batch = MediaUploadBatch::start(
            m_library.get(), {QUrl::fromLocalFile(small.fileName()), QUrl::fromLocalFile(huge.fileName())},
            {});
        QSignalSpy failed(batch, &MediaUploadBatch::failed);
        QSignalSpy finished(batch, &MediaUploadBatch::finished);
        QVERIFY(finished.wait(TestWaits::limitMs));
        QCOMPARE(failed.value(0).value(0).toString(), u"Images must be 10 MB or smaller."_s);
        QCOMPARE(requests(u"/api/v1/images"_s).size(), 1);
        huge.remove();
    }
};

QTEST_GUILESS_MAIN(TestImageLibrary)
#include "tst_imagelibrary.moc"
