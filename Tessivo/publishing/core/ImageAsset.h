#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <optional>

// One image of the user's library as the service describes it.
struct ImageAsset
{
    QString id;
    // Absolute address of the stored image; written into documents.
    QString url;
    QString filename;
    std::optional<QString> contentType;
    std::optional<qint64> size;
    // Milliseconds since 1970 UTC.
    std::optional<qint64> createdAt;

    friend bool operator==(const ImageAsset &, const ImageAsset &) = default;

    // Strict: a missing "id", "url" or "filename", or any value of the wrong
    // type, fails with `error` naming it.
    static std::optional<ImageAsset> fromJson(const QJsonObject &object, QString *error);
};

Q_DECLARE_METATYPE(ImageAsset)
