#include "StrictJson.h"

#include <cmath>

StrictJsonReader::StrictJsonReader(const QJsonObject &object) : m_object(object) {}

bool StrictJsonReader::contains(QStringView key) const
{
    return m_object.contains(key);
}

bool StrictJsonReader::isNull(QStringView key) const
{
    return m_object.contains(key) && m_object.value(key).isNull();
}

void StrictJsonReader::fail(const QString &message)
{
    if (m_error.isEmpty()) {
        m_error = message;
    }
}

QJsonValue StrictJsonReader::required(QStringView key)
{
    const QJsonValue v = m_object.value(key);
    if (v.isUndefined()) {
        fail(QStringLiteral("key '%1' is missing").arg(key));
    } else if (v.isNull()) {
        fail(QStringLiteral("key '%1' is null").arg(key));
    }
    return v;
}

std::optional<qint64> StrictJsonReader::toInt64(const QJsonValue &value)
{
    if (value.type() != QJsonValue::Double) {
        return std::nullopt;
    }
    // Qt keeps integers that were written without fraction or exponent as
    // exact 64-bit values; toInteger() gives them back unchanged.
    constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
    const qint64 exact = value.toInteger(sentinel);
    if (exact != sentinel) {
        return exact;
    }
    const double d = value.toDouble();
    if (d == static_cast<double>(sentinel)) {
        return sentinel;
    }
    return std::nullopt;
}

QString StrictJsonReader::requiredString(QStringView key)
{
    const QJsonValue v = required(key);
    if (!ok()) {
        return {};
    }
    if (!v.isString()) {
        fail(QStringLiteral("key '%1' is not a string").arg(key));
        return {};
    }
    return v.toString();
}

std::optional<QString> StrictJsonReader::optionalString(QStringView key)
{
    const QJsonValue v = m_object.value(key);
    if (v.isUndefined() || v.isNull()) {
        return std::nullopt;
    }
    if (!v.isString()) {
        fail(QStringLiteral("key '%1' is not a string").arg(key));
        return std::nullopt;
    }
    return v.toString();
}

qint64 StrictJsonReader::requiredInt64(QStringView key)
{
    const QJsonValue v = required(key);
    if (!ok()) {
        return 0;
    }
    const auto n = toInt64(v);
    if (!n) {
        fail(QStringLiteral("key '%1' is not a 64-bit integer").arg(key));
        return 0;
    }
    return *n;
}

std::optional<qint64> StrictJsonReader::optionalInt64(QStringView key)
{
    const QJsonValue v = m_object.value(key);
    if (v.isUndefined() || v.isNull()) {
        return std::nullopt;
    }
    const auto n = toInt64(v);
    if (!n) {
        fail(QStringLiteral("key '%1' is not a 64-bit integer").arg(key));
    }
    return n;
}

bool StrictJsonReader::requiredBool(QStringView key)
{
    const QJsonValue v = required(key);
    if (!ok()) {
        return false;
    }
    if (!v.isBool()) {
        fail(QStringLiteral("key '%1' is not a boolean").arg(key));
        return false;
    }
    return v.toBool();
}

std::optional<bool> StrictJsonReader::optionalBool(QStringView key)
{
    const QJsonValue v = m_object.value(key);
    if (v.isUndefined() || v.isNull()) {
        return std::nullopt;
    }
    if (!v.isBool()) {
        fail(QStringLiteral("key '%1' is not a boolean").arg(key));
        return std::nullopt;
    }
    return v.toBool();
}

namespace {

std::optional<QStringList> toStringList(const QJsonValue &v)
{
    if (!v.isArray()) {
        return std::nullopt;
    }
    QStringList list;
    const QJsonArray array = v.toArray();
    list.reserve(array.size());
    for (const QJsonValue &item : array) {
        if (!item.isString()) {
            return std::nullopt;
        }
        list.append(item.toString());
    }
    return list;
}

} // namespace

QStringList StrictJsonReader::requiredStringList(QStringView key)
{
    const QJsonValue v = required(key);
    if (!ok()) {
        return {};
    }
    auto list = toStringList(v);
    if (!list) {
        fail(QStringLiteral("key '%1' is not a list of strings").arg(key));
        return {};
    }
    return *list;
}

std::optional<QStringList> StrictJsonReader::optionalStringList(QStringView key)
{
    const QJsonValue v = m_object.value(key);
    if (v.isUndefined() || v.isNull()) {
        return std::nullopt;
    }
    auto list = toStringList(v);
    if (!list) {
        fail(QStringLiteral("key '%1' is not a list of strings").arg(key));
    }
    return list;
}

std::optional<QJsonObject> StrictJsonReader::optionalObject(QStringView key)
{
    const QJsonValue v = m_object.value(key);
    if (v.isUndefined() || v.isNull()) {
        return std::nullopt;
    }
    if (!v.isObject()) {
        fail(QStringLiteral("key '%1' is not an object").arg(key));
        return std::nullopt;
    }
    return v.toObject();
}

QJsonObject StrictJsonReader::requiredObject(QStringView key)
{
    const QJsonValue v = required(key);
    if (!ok()) {
        return {};
    }
    if (!v.isObject()) {
        fail(QStringLiteral("key '%1' is not an object").arg(key));
        return {};
    }
    return v.toObject();
}
