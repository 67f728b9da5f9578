#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>

// Strict readers for JSON records. A value of the wrong type fails the whole
// record (the reader remembers the first failure), a missing required key
// fails it too, and 64-bit integers are read exactly. Optional keys that are
// missing or null read as std::nullopt. Unknown keys are never looked at.
//
//   StrictJsonReader r(object);
//   const QString id = r.requiredString(u"id");
//   const auto deleted = r.optionalInt64(u"deletedAt");
//   if (!r.ok()) { qWarning() << r.error(); return std::nullopt; }
class StrictJsonReader
{
public:
    explicit StrictJsonReader(const QJsonObject &object);

    bool ok() const { return m_error.isEmpty(); }
    // The first failure, naming the key, e.g. "key 'updatedAt' is not an integer".
    const QString &error() const { return m_error; }

    bool contains(QStringView key) const;
    // True when the key is present with the value null.
    bool isNull(QStringView key) const;

    QString requiredString(QStringView key);
    std::optional<QString> optionalString(QStringView key);

    qint64 requiredInt64(QStringView key);
    std::optional<qint64> optionalInt64(QStringView key);

    bool requiredBool(QStringView key);
    std::optional<bool> optionalBool(QStringView key);

    QStringList requiredStringList(QStringView key);
    std::optional<QStringList> optionalStringList(QStringView key);

    // The object under `key`; missing or null gives nullopt.
    std::optional<QJsonObject> optionalObject(QStringView key);
    QJsonObject requiredObject(QStringView key);

    // Marks the record as failed with `message` unless it failed already.
    void fail(const QString &message);

    // Reads one JSON value as an exact 64-bit integer: an integral number
    // within range. Doubles with a fraction, strings and booleans fail.
    static std::optional<qint64> toInt64(const QJsonValue &value);

private:
    QJsonValue required(QStringView key);

    QJsonObject m_object;
    QString m_error;
};
