#include "shell/core/BundleInfo.h"

namespace BundleInfo {

namespace {

QVariant nonEmpty(const char *value)
{
    const QString text = QString::fromUtf8(value);
    return text.isEmpty() ? QVariant() : QVariant(text);
}

} // namespace

QVariant objectForInfoDictionaryKey(const QString &key)
{
    if (key == shortVersionKey)
        return nonEmpty(TESSIVO_VERSION);
    if (key == versionKey)
        return nonEmpty(TESSIVO_BUNDLE_VERSION);
    if (key == publicEDKey)
        return nonEmpty(TESSIVO_UPDATE_PUBLIC_KEY);
    return {};
}

QString shortVersion()
{
    return objectForInfoDictionaryKey(shortVersionKey).toString();
}

QString bundleVersion()
{
    return objectForInfoDictionaryKey(versionKey).toString();
}

} // namespace BundleInfo
