#include "publishing/core/ImageAsset.h"

#include "store/StrictJson.h"

std::optional<ImageAsset> ImageAsset::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    ImageAsset asset;
    asset.id = r.requiredString(u"id");
    asset.url = r.requiredString(u"url");
    asset.filename = r.requiredString(u"filename");
    asset.contentType = r.optionalString(u"contentType");
    asset.size = r.optionalInt64(u"size");
    asset.createdAt = r.optionalInt64(u"createdAt");
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    return asset;
}
