#pragma once

#include <QMetaType>
#include <QString>

// One image of the user's library as the service describes it.
struct ImageAsset
{
    QString id;
    QString url;
    QString filename;
    QString contentType;
    qint64 size = 0;
    qint64 createdAt = 0;

    friend bool operator==(const ImageAsset &, const ImageAsset &) = default;
};

Q_DECLARE_METATYPE(ImageAsset)
