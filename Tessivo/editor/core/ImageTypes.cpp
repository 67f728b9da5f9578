#include "editor/core/ImageTypes.h"

#include "store/Text.h"

#include <QFileInfo>
#include <QMimeDatabase>

using namespace Qt::StringLiterals;

namespace ImageTypes {

namespace {

QString lowerSuffix(const QString &fileNameOrPath)
{
    // QFileInfo::suffix() would treat a leading dot as a suffix separator
    // too; ".png" alone is a hidden file named png, not a PNG.
    const QString name = QFileInfo(fileNameOrPath).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return {};
    return name.mid(dot + 1).toLower();
}

QMimeType typeForSuffix(const QString &suffix)
{
    if (suffix.isEmpty())
        return {};
    const QMimeDatabase db;
    const QList<QMimeType> types = db.mimeTypesForFileName(u"file."_s + suffix);
    return types.isEmpty() ? QMimeType() : types.first();
}

} // namespace

const QStringList &allowedTypes()
{
    static const QStringList types = [] {
        const QMimeDatabase db;
        QStringList list{u"image/png"_s, u"image/jpeg"_s, u"image/webp"_s, u"image/gif"_s};
        if (db.mimeTypeForName(u"image/avif"_s).isValid())
            list << u"image/avif"_s;
        else
            list << u"image/*"_s;
        return list;
    }();
    return types;
}

bool isAllowedImage(const QString &fileNameOrPath)
{
    const QMimeType type = typeForSuffix(lowerSuffix(fileNameOrPath));
    if (!type.isValid() || type.isDefault())
        return false;
    for (const QString &allowed : allowedTypes()) {
        if (allowed == u"image/*"_s) {
            if (type.name().startsWith(u"image/"_s))
                return true;
        } else if (type.inherits(allowed)) {
            return true;
        }
    }
    return false;
}

QString mimeType(const QString &fileNameOrPath)
{
    const QMimeType type = typeForSuffix(lowerSuffix(fileNameOrPath));
    if (!type.isValid() || type.isDefault())
        return u"application/octet-stream"_s;
    return type.name();
}

QString altText(const QString &filename)
{
    QString name = filename;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot > 0)
        name.truncate(dot);
    static const QRegularExpression separators = Text::regex(u"[_-]+"_s);
    name.replace(separators, u" "_s);
    name = Text::trimmedSpacesAndTabs(name);
    return name.isEmpty() ? u"image"_s : name;
}

} // namespace ImageTypes
