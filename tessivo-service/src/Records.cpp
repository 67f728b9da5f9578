#include "Records.h"

#include <QJsonValue>

#include <cmath>

namespace tessivo::server {

namespace {
constexpr qsizetype maxIdLength = 256;

enum class Type { String, Integer, Number };

bool hasType(const QJsonValue &value, Type type)
{
    switch (type) {
    case Type::String:
        return value.isString();
    case Type::Integer:
        return jsonInteger(value).has_value();
    case Type::Number:
        return value.isDouble();
    }
    return false;
}
} // namespace

std::optional<qint64> jsonInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::floor(d) != d)
        return std::nullopt;
    return value.toInteger(qint64(d));
}

QString recordProblem(RecordKind kind, const QJsonObject &record)
{
    const QJsonValue id = record.value(QLatin1String("id"));
    if (!id.isString() || id.toString().isEmpty())
        return QStringLiteral("missing id");
    if (id.toString().size() > maxIdLength)
        return QStringLiteral("id too long");
    for (const char *key : {"createdAt", "updatedAt"}) {
        if (!jsonInteger(record.value(QLatin1String(key))))
            return QStringLiteral("missing %1").arg(QLatin1String(key));
    }
    static const QList<QPair<const char *, Type>> documentMembers = {{"title", Type::String},
                                                                     {"body", Type::String},
                                                                     {"deletedAt", Type::Integer},
                                                                     {"collectionId", Type::String}};
    static const QList<QPair<const char *, Type>> collectionMembers = {{"name", Type::String},
                                                                       {"position", Type::Number},
                                                                       {"parentId", Type::String},
                                                                       {"deletedAt", Type::Integer}};
    for (const auto &[key, type] : kind == RecordKind::Document ? documentMembers : collectionMembers) {
        const QJsonValue value = record.value(QLatin1String(key));
        if (!value.isUndefined() && !value.isNull() && !hasType(value, type))
            return QStringLiteral("wrong type for %1").arg(QLatin1String(key));
    }
    return {};
}

} // namespace tessivo::server
