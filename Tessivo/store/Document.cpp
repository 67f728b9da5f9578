#include "Document.h"

#include "store/StrictJson.h"

#include <QDateTime>
#include <QJsonArray>
#include <QUuid>

Document::Document(const QString &body_, const std::optional<QString> &collectionId_)
    : id(QUuid::createUuid().toString(QUuid::WithoutBraces).toLower()), title(deriveTitle(body_)),
      body(body_), collectionId(collectionId_)
{
    createdAt = QDateTime::currentMSecsSinceEpoch();
    updatedAt = createdAt;
}

QString Document::displayTitle() const
{
    if (overrides.contains(QLatin1String("title")) && frontmatter.title && !frontmatter.title->isEmpty()) {
        return *frontmatter.title;
    }
    if (!title.isEmpty()) {
        return title;
    }
    return QStringLiteral("Untitled");
}

QJsonObject Document::toJson() const
{
    QJsonObject object;
    object.insert(QLatin1String("id"), id);
    object.insert(QLatin1String("title"), title);
    object.insert(QLatin1String("body"), body);
    object.insert(QLatin1String("frontmatter"), frontmatter.toJson());
    object.insert(QLatin1String("overrides"), QJsonArray::fromStringList(overrides));
    object.insert(QLatin1String("createdAt"), createdAt);
    object.insert(QLatin1String("updatedAt"), updatedAt);
    object.insert(QLatin1String("deletedAt"), deletedAt ? QJsonValue(*deletedAt) : QJsonValue());
    object.insert(QLatin1String("collectionId"), collectionId ? QJsonValue(*collectionId) : QJsonValue());
    if (serverUpdatedAt) {
        object.insert(QLatin1String("serverUpdatedAt"), *serverUpdatedAt);
    }
    return object;
}

std::optional<Document> Document::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    Document d;
    d.id = r.requiredString(u"id");
    d.title = r.optionalString(u"title").value_or(QString());
    d.body = r.optionalString(u"body").value_or(QString());
    if (const auto fm = r.optionalObject(u"frontmatter")) {
        QString fmError;
        if (auto parsed = Frontmatter::fromJson(*fm, &fmError)) {
            d.frontmatter = std::move(*parsed);
        } else {
            r.fail(QStringLiteral("key 'frontmatter': %1").arg(fmError));
        }
    }
    d.overrides = r.optionalStringList(u"overrides").value_or(QStringList());
    d.createdAt = r.requiredInt64(u"createdAt");
    d.updatedAt = r.requiredInt64(u"updatedAt");
    d.deletedAt = r.optionalInt64(u"deletedAt");
    d.collectionId = r.optionalString(u"collectionId");
    d.serverUpdatedAt = r.optionalInt64(u"serverUpdatedAt");
    if (!r.ok()) {
        if (error) {
            *error = r.error();
        }
        return std::nullopt;
    }
    return d;
}
