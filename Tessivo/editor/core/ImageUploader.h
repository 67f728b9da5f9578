#pragma once

#include <QByteArray>
#include <QFuture>
#include <QString>

#include <optional>

// What the editor needs of the image library: a size limit and an upload.
// The library implements it; the editor never sees the library itself.
class ImageUploader
{
public:
    struct Uploaded
    {
        QString url;
        QString filename;
    };
    // The uploaded image, or the message to show when there is none.
    struct Outcome
    {
        std::optional<Uploaded> image;
        QString error;
    };

    virtual ~ImageUploader() = default;

    // Bytes an upload may hold at most, and what the user is told when a
    // file is larger.
    virtual qint64 uploadLimit() const = 0;
    virtual QString tooLargeMessage() const = 0;

    // Uploads `data` under `filename`, tagged with `documentID`. Finishes on
    // the main thread.
    virtual QFuture<Outcome> uploadImage(const QByteArray &data, const QString &filename,
                                         const QString &contentType, const QString &documentID) = 0;
};
