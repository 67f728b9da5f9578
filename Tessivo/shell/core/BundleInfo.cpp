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

QString versionText(const QVariant &shortVersion, const QVariant &build)
{
    const auto text = [](const QVariant &value) {
        return value.typeId() == QMetaType::QString ? value.toString() : QString();
    };
    const QString version =
        shortVersion.typeId() == QMetaType::QString ? text(shortVersion) : QStringLiteral("\u2014");
    const QString number = text(build);
    return number.isEmpty() ? version : QStringLiteral("%1 (%2)").arg(version, number);
}

QString versionText()
{
    return versionText(objectForInfoDictionaryKey(shortVersionKey), objectForInfoDictionaryKey(versionKey));
}

} // namespace BundleInfo
