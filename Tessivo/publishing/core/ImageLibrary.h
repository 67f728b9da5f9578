#pragma once

#include "editor/core/ImageUploader.h"
#include "protocol/Rules.h"
#include "protocol/WireRecords.h"
#include "service/core/APIClient.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

// The signed-in user's image library on the service: the list of images,
// fetched once after start or sign-out, and uploads, each of which puts its
// image at the front of the list. Observable: every field has a change
// signal that fires only when the value really changes. Main thread only.
//
// Requests belong to the library, not to the views that start them: a view
// that closes while the list loads leaves the load to finish here.
//
// Sign-out starts a new generation. A list reply or an upload of an earlier
// generation never puts the previous account's images back: an old load
// only clears the busy flag (or nothing, once the new account's load has
// started), an old upload still answers its caller but adds nothing to the
// list.
class Session;

class ImageLibrary final : public QObject, public ImageUploader
{
    Q_OBJECT

public:
    // Exactly this many bytes are accepted.
    static constexpr qint64 maxUploadBytes = protocol::images::maxBytes;

    explicit ImageLibrary(APIClient *client, QObject *parent = nullptr);
    // Takes the session's generations as its own: each new one (sign-in,
    // sign-out) resets the library.
    ImageLibrary(APIClient *client, Session *session, QObject *parent = nullptr);

    // Newest upload first after uploads, else in the service's order.
    const QList<ImageAsset> &images() const { return m_images; }
    // A list request is running.
    bool isLoading() const { return m_isLoading; }
    // The message of the last failed list request.
    const std::optional<QString> &error() const { return m_error; }
    // A list request has finished, well or not, since start or sign-out.
    bool loaded() const { return m_loaded; }

    // Fetches the list unless a fetch for the current account runs, or
    // (without `force`) one has finished. Never fails: a failure lands in
    // error(). The future ends when the fetch does (at once when none
    // starts).
    QFuture<void> load(bool force);

    // Uploads one image. More than maxUploadBytes is refused with
    // tooLargeError() and nothing is sent. With a `documentID` (an empty one
    // too) the upload names the document it is for.
    QFuture<APIResult<ImageAsset>> upload(const QByteArray &data, const QString &filename,
                                          const QString &contentType,
                                          const std::optional<QString> &documentID);

    // The reset of sign-out (and sign-in): no images, not loaded, no error;
    // the busy flag stays with the load that set it.
    void resetForAccountChange();

    // The service's own answer to an image above the limit, given before
    // anything is sent.
    static APIError tooLargeError();
    // What error() says when the list reply does not decode.
    static QString loadFailureMessage();

    // The upload's multipart/form-data body: the "doc_id" part when a
    // document id is given, then the "file" part, then the closing line. In
    // the part header, double quotes in the file name become single quotes
    // and line breaks are dropped; nothing else is escaped.
    static QByteArray multipartBody(const QByteArray &boundary, const QByteArray &data,
                                    const QString &filename, const QString &contentType,
                                    const std::optional<QString> &documentID);

    // ImageUploader
    qint64 uploadLimit() const override { return maxUploadBytes; }
    QString tooLargeMessage() const override { return tooLargeError().message; }
    QFuture<Outcome> uploadImage(const QByteArray &data, const QString &filename, const QString &contentType,
                                 const QString &documentID) override;

Q_SIGNALS:
    void imagesChanged();
    void isLoadingChanged();
    void errorChanged();
    void loadedChanged();

private:
    void setImages(const QList<ImageAsset> &images);
    void setLoading(bool loading);
    void setError(const std::optional<QString> &error);
    void setLoaded(bool loaded);
    APIResult<ImageAsset> finishUpload(const APIResult<APIReply> &reply, quint64 generation,
                                       const QString &filename, const QString &contentType, qint64 byteCount);

    APIClient *m_client;
    QList<ImageAsset> m_images;
    bool m_isLoading = false;
    std::optional<QString> m_error;
    bool m_loaded = false;
    quint64 m_generation = 0;
    // The generation of the newest list request.
    quint64 m_loadGeneration = 0;
    QPointer<Session> m_session;
};
