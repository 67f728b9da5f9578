#pragma once

#include <QString>
#include <QVariant>

// The application's bundle information, fixed by the build: version,
// build number and the update feed's public key.
namespace BundleInfo {

inline const QString shortVersionKey = QStringLiteral("CFBundleShortVersionString");
inline const QString versionKey = QStringLiteral("CFBundleVersion");
inline const QString publicEDKey = QStringLiteral("SUPublicEDKey");

// The value under `key`, or an invalid QVariant when the build has no such
// entry. An empty value given at build time counts as no entry.
QVariant objectForInfoDictionaryKey(const QString &key);

QString shortVersion();
QString bundleVersion();

// The version as the settings show it: the short version ("\u2014" when the
// entry is missing or not a string), then the build in parentheses when
// there is one: "1.4 (27)", "1.4", "\u2014 (27)".
QString versionText(const QVariant &shortVersion, const QVariant &build);
QString versionText();

} // namespace BundleInfo
