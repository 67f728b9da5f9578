#include "publishing/core/ImageLibrary.h"

#include "protocol/Routes.h"
#include "service/core/APIClient.h"
#include "service/core/Session.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {

QString cleanedFilename(QString name)
{
    name.replace(u'"', u'\'');
    name.remove(u'\r');
    name.remove(u'\n');
    return name;
}

} // namespace

ImageLibrary::ImageLibrary(APIClient *client, QObject *parent) : QObject(parent), m_client(client) {}

ImageLibrary::ImageLibrary(APIClient *client, Session *session, QObject *parent)
    : QObject(parent), m_client(client), m_session(session)
{
    m_generation = session->generation();
    connect(session, &Session::generationChanged, this, &ImageLibrary::resetForAccountChange);
}

APIError ImageLibrary::tooLargeError()
{
    return APIError{protocol::images::tooLargeCode(), protocol::images::tooLargeMessage(),
                    protocol::images::tooLargeStatus};
}

QString ImageLibrary::loadFailureMessage()
{
    return u"Couldn't load your media library."_s;
}

// --- Observable fields -------------------------------------------------------

void ImageLibrary::setImages(const QList<ImageAsset> &images)
{
    if (m_images == images)
        return;
    m_images = images;
    Q_EMIT imagesChanged();
}

void ImageLibrary::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
}

void ImageLibrary::setError(const std::optional<QString> &error)
{
    if (m_error == error)
        return;
    m_error = error;
    Q_EMIT errorChanged();
}

void ImageLibrary::setLoaded(bool loaded)
{
    if (m_loaded == loaded)
        return;
    m_loaded = loaded;
    Q_EMIT loadedChanged();
}

void ImageLibrary::resetForAccountChange()
{
    m_generation = m_session ? m_session->generation() : m_generation + 1;
    setImages({});
    setLoaded(false);
    setError(std::nullopt);
}

// --- Listing -------------------------------------------------------------------

QFuture<void> ImageLibrary::load(bool force)
{
    // A load still running for an account that has signed out since does
    // not count: its list is thrown away, and this account needs its own.
    if ((m_isLoading && m_loadGeneration == m_generation) || (!force && m_loaded))
        return QtFuture::makeReadyFuture();
    setLoading(true);
    setError(std::nullopt);
    const quint64 generation = m_generation;
    m_loadGeneration = generation;
    return m_client->get<ImageListResponse>(protocol::routePath(protocol::Endpoint::listImages))
        .then(this, [this, generation](const APIResult<ImageListResponse> &result) {
            if (generation != m_loadGeneration)
                return; // a newer load owns the busy flag
            if (generation != m_generation) {
                // The list of an account that has signed out since.
                setLoading(false);
                return;
            }
            if (result)
                setImages(result->images);
            else
                setError(result.failure().userText(loadFailureMessage()));
            setLoading(false);
            setLoaded(true);
        });
}

// --- Uploading -----------------------------------------------------------------

QByteArray ImageLibrary::multipartBody(const QByteArray &boundary, const QByteArray &data,
                                       const QString &filename, const QString &contentType,
                                       const std::optional<QString> &documentID)
{
    QByteArray body;
    body.reserve(data.size() + 512);
    if (documentID) {
        body += "--" + boundary + "\r\n";
        body += "Content-Disposition: form-data; name=\"doc_id\"\r\n\r\n";
        body += documentID->toUtf8() + "\r\n";
    }
    body += "--" + boundary + "\r\n";
    body += "Content-Disposition: form-data; name=\"file\"; filename=\"" +
            cleanedFilename(filename).toUtf8() + "\"\r\n";
    body += "Content-Type: " + contentType.toUtf8() + "\r\n\r\n";
    body += data;
    body += "\r\n--" + boundary + "--\r\n";
    return body;
}

QFuture<APIResult<ImageAsset>> ImageLibrary::upload(const QByteArray &data, const QString &filename,
                                                    const QString &contentType,
                                                    const std::optional<QString> &documentID)
{
    if (data.size() > maxUploadBytes)
        return QtFuture::makeReadyFuture(APIResult<ImageAsset>(tooLargeError()));
    const QByteArray boundary =
        "Tessivo-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
    const QNetworkRequest request =
        m_client->makeRequest(m_client->url(protocol::routePath(protocol::Endpoint::uploadImage)),
                              "application/json", "multipart/form-data; boundary=" + boundary, true, 60'000);
    const quint64 generation = m_generation;
    const qint64 byteCount = data.size();
    return m_client
        ->perform(request, APIClient::Method::Post,
                  multipartBody(boundary, data, filename, contentType, documentID))
        .then(this, [this, generation, filename, contentType, byteCount](const APIResult<APIReply> &reply) {
            return finishUpload(reply, generation, filename, contentType, byteCount);
        });
}

APIResult<ImageAsset> ImageLibrary::finishUpload(const APIResult<APIReply> &reply, quint64 generation,
                                                 const QString &filename, const QString &contentType,
                                                 qint64 byteCount)
{
    if (!reply)
        return reply.failure();
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(reply->body, &parseError);
    QString fault = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                 : u"the reply is not a JSON object"_s;
    std::optional<ImageUploadResponse> decoded;
    if (json.isObject())
        decoded = ImageUploadResponse::fromJson(json.object(), &fault);
    if (!decoded)
        return APIFailure::decoding(APIClient::decodingDescription(fault));
    if (decoded->untracked.value_or(false))
        return APIError{u"untracked"_s,
                        u"Image uploaded but couldn't be saved to your library. Please try again."_s, 0};

    ImageAsset asset;
    asset.id = decoded->id;
    asset.url = decoded->url;
    asset.filename = decoded->filename.value_or(filename);
    asset.contentType = contentType;
    asset.size = decoded->size.value_or(byteCount);
    asset.createdAt = decoded->createdAt.value_or(QDateTime::currentMSecsSinceEpoch());

    const bool listed = std::any_of(m_images.cbegin(), m_images.cend(),
                                    [&](const ImageAsset &a) { return a.id == asset.id; });
    // An upload that outlived a sign-out still answers its caller, but the
    // next account's library never shows it.
    if (!listed && generation == m_generation) {
        m_images.prepend(asset);
        Q_EMIT imagesChanged();
    }
    return asset;
}

QFuture<ImageUploader::Outcome> ImageLibrary::uploadImage(const QByteArray &data, const QString &filename,
                                                          const QString &contentType,
                                                          const QString &documentID)
{
    return upload(data, filename, contentType, documentID).then([](const APIResult<ImageAsset> &result) {
        if (!result)
            return Outcome{std::nullopt, result.failure().userText()};
        return Outcome{Uploaded{result->url, result->filename}, {}};
    });
}
