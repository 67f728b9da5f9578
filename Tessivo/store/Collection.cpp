#include "Collection.h"

#include "store/StrictJson.h"

#include <QDateTime>
#include <QUuid>

const QStringList &fixedCollectionIDs()
{
    static const QStringList ids{QStringLiteral("site-blog"), QStringLiteral("personal-site")};
    return ids;
}

bool isFixedCollectionID(QStringView id)
{
    return id == u"site-blog" || id == u"personal-site";
}

Collection::Collection(const QString &name_, qint64 position_, const std::optional<QString> &parentId_)
    : id(QUuid::createUuid().toString(QUuid::WithoutBraces).toLower()), name(name_), position(position_),
      parentId(parentId_), parentKnown(true)
{
    createdAt = QDateTime::currentMSecsSinceEpoch();
    updatedAt = createdAt;
}

QJsonObject Collection::toJson() const
{
    QJsonObject object;
    object.insert(QLatin1String("id"), id);
    object.insert(QLatin1String("name"), name);
    object.insert(QLatin1String("position"), position);
    if (parentKnown) {
        object.insert(QLatin1String("parentId"), parentId ? QJsonValue(*parentId) : QJsonValue());
    }
    object.insert(QLatin1String("createdAt"), createdAt);
    object.insert(QLatin1String("updatedAt"), updatedAt);
    object.insert(QLatin1String("deletedAt"), deletedAt ? QJsonValue(*deletedAt) : QJsonValue());
    if (serverUpdatedAt) {
        object.insert(QLatin1String("serverUpdatedAt"), *serverUpdatedAt);
    }
    return object;
}

std::optional<Collection> Collection::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    Collection c;
    c.id = r.requiredString(u"id");
    c.name = r.optionalString(u"name").value_or(QString());
    c.position = r.optionalInt64(u"position").value_or(0);
    c.parentId = r.optionalString(u"parentId");
    c.parentKnown = r.contains(u"parentId");
    c.createdAt = r.requiredInt64(u"createdAt");
    c.updatedAt = r.requiredInt64(u"updatedAt");
    c.deletedAt = r.optionalInt64(u"deletedAt");
    c.serverUpdatedAt = r.optionalInt64(u"serverUpdatedAt");
    if (!r.ok()) {
        if (error) {
            *error = r.error();
        }
        return std::nullopt;
    }
    return c;
}

bool Collection::storeOrder(const Collection &a, const Collection &b)
{
    const auto group = [](const Collection &c) {
        if (c.id == u"site-blog") {
            return 0;
        }
        if (c.id == u"personal-site") {
            return 1;
        }
        return 2;
    };
    const int ga = group(a);
    const int gb = group(b);
    if (ga != gb) {
        return ga < gb;
    }
    if (a.position != b.position) {
        return a.position < b.position;
    }
    return a.createdAt < b.createdAt;
}
