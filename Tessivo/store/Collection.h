#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>

// The two collection ids that always stay at the top level, in store order.
const QStringList &fixedCollectionIDs();
bool isFixedCollectionID(QStringView id);

// One nestable group of documents. A plain value compared field by field,
// parentKnown included.
class Collection final
{
public:
    QString id;
    QString name;
    qint64 position = 0;
    std::optional<QString> parentId;
    // Whether parentId is authoritative: true for collections made here and
    // for those whose JSON carried a "parentId" key (even null). Not a key.
    bool parentKnown = false;
    qint64 createdAt = 0;
    qint64 updatedAt = 0;
    std::optional<qint64> deletedAt;
    std::optional<qint64> serverUpdatedAt;

    Collection() = default;

    // A new collection: fresh lower-case UUID id, the given values as they
    // are (no trimming), parentKnown true, createdAt == updatedAt == now.
    Collection(const QString &name, qint64 position, const std::optional<QString> &parentId);

    // "parentId" is written only when parentKnown (null for a top-level
    // collection); "deletedAt" always (null when absent); "serverUpdatedAt"
    // only when present.
    QJsonObject toJson() const;
    // Requires "id", "createdAt" and "updatedAt". parentKnown is whether the
    // object contains "parentId" at all. Logs nothing.
    static std::optional<Collection> fromJson(const QJsonObject &object, QString *error = nullptr);

    // The store's order, as a strict "less than": "site-blog" first,
    // "personal-site" second, then position, then createdAt ascending. Use
    // with std::stable_sort.
    static bool storeOrder(const Collection &a, const Collection &b);

    friend bool operator==(const Collection &, const Collection &) = default;
};

Q_DECLARE_METATYPE(Collection)
