#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>

// The six front-matter fields a document carries. Every field is optional;
// an absent field is left out of the JSON form, so an empty record is "{}".
struct Frontmatter
{
    std::optional<QString> title;
    std::optional<QString> description;
    std::optional<QString> slug;
    std::optional<QString> date;
    std::optional<QStringList> tags;
    // Only ever true when read from a block; false is never stored by a read.
    std::optional<bool> draft;

    bool isEmpty() const { return *this == Frontmatter{}; }

    // Keys "title", "description", "slug", "date", "tags", "draft"; absent
    // fields are omitted.
    QJsonObject toJson() const;
    // Missing or null keys leave a field absent; unknown keys are ignored; a
    // value of the wrong type fails the whole record (nullopt, `error` set).
    static std::optional<Frontmatter> fromJson(const QJsonObject &object, QString *error = nullptr);

    friend bool operator==(const Frontmatter &, const Frontmatter &) = default;
};

Q_DECLARE_METATYPE(Frontmatter)
