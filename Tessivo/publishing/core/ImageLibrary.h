#pragma once

#include "publishing/core/ImageAsset.h"
#include "service/core/APIError.h"

#include <QByteArray>
#include <QMimeType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The signed-in user's image library. One shared instance lives for the whole
// run, on the main thread.
//
// Uploading to the service is not wired up in this build: every upload fails
// with an APIError that says so. The type rules below are complete.
class ImageLibrary final : public QObject
{
    Q_OBJECT

public:
    using SuccessHandler = std::function<void(const ImageAsset &)>;
    using FailureHandler = std::function<void(const APIError &)>;

    static ImageLibrary *shared();

    // Uploads `data` under `filename` with `contentType`, tagged with
    // `documentID` when given. Exactly one handler runs, later, on the main
    // thread (never from inside this call); none runs once `context` is gone.
    void upload(const QByteArray &data, const QString &filename, const QString &contentType,
                const std::optional<QString> &documentID, QObject *context, SuccessHandler onSuccess,
                FailureHandler onFailure);

    // The preferred MIME type for the file name's extension (lower-cased),
    // "application/octet-stream" when the extension names no known type.
    static QString mimeType(const QString &fileNameOrPath);

    // Alt text for an image file name: the name without its extension,
    // "-" and "_" runs as single spaces, trimmed; "image" when nothing is left.
    static QString altText(const QString &filename);

    // The MIME types accepted for upload: PNG, JPEG, WebP, GIF and AVIF, or
    // every image type when the system's MIME database does not know AVIF.
    static const QStringList &allowedTypes();

    // Whether a file with this name is one of the allowed image types. Only
    // the name's extension is looked at, never the contents.
    static bool isAllowedImage(const QString &fileNameOrPath);

    // The message of every failed upload in this build.
    static QString unavailableMessage();

private:
    ImageLibrary() = default;
};
