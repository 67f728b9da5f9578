#include "Frontmatter.h"

#include "store/StrictJson.h"

#include <QJsonArray>

QJsonObject Frontmatter::toJson() const
{
    QJsonObject object;
    if (title) {
        object.insert(QLatin1String("title"), *title);
    }
    if (description) {
        object.insert(QLatin1String("description"), *description);
    }
    if (slug) {
        object.insert(QLatin1String("slug"), *slug);
    }
    if (date) {
        object.insert(QLatin1String("date"), *date);
    }
    if (tags) {
        object.insert(QLatin1String("tags"), QJsonArray::fromStringList(*tags));
    }
    if (draft) {
        object.insert(QLatin1String("draft"), *draft);
    }
    return object;
}

std::optional<Frontmatter> Frontmatter::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    Frontmatter f;
    f.title = r.optionalString(u"title");
    f.description = r.optionalString(u"description");
    f.slug = r.optionalString(u"slug");
    f.date = r.optionalString(u"date");
    f.tags = r.optionalStringList(u"tags");
    f.draft = r.optionalBool(u"draft");
    if (!r.ok()) {
        if (error) {
            *error = r.error();
        }
        return std::nullopt;
    }
    return f;
}
