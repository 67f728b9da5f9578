#pragma once

#include "store/Collection.h"
#include "store/CollectionPath.h"
#include "store/Document.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// The nesting of a list of collections, cleaned of links that cannot be
// followed: a missing parent, a link to itself, any link involving a fixed
// id, and parent loops (every member of a loop becomes a root). A small
// value built afresh from the store's live collections; it never changes
// them and keeps their order everywhere it lists collections or nodes.
class CollectionTree final
{
public:
    static constexpr int maximumDepth = 4;

    struct Node
    {
        Collection collection;
        // Documents filed directly in this collection, in the given order.
        QList<Document> documents;
        QList<Node> children;
        // 1 for a root; the length of `path`.
        int depth = 1;
        // Names from the root down to this collection.
        CollectionPath path;
        // This collection's documents plus those of every descendant.
        int totalDocuments = 0;

        friend bool operator==(const Node &, const Node &) = default;
    };

    struct Forest
    {
        QList<Node> roots;
        // Documents without a collection or whose collection is not listed.
        QList<Document> unfiled;
    };

    explicit CollectionTree(const QList<Collection> &collections);

    const QList<Collection> &collections() const { return m_collections; }
    // Child id to effective parent id; a collection without an entry is a root.
    const QHash<QString, QString> &parents() const { return m_parents; }

    // The children of `parentId`, or the roots for nullopt.
    QList<Collection> children(const std::optional<QString> &parentId) const;
    // Effective parents, nearest first; empty for a root or an unknown id.
    QStringList ancestors(const QString &id) const;
    // Every collection below `id`; never `id` itself.
    QSet<QString> descendants(const QString &id) const;
    // For each of `descendants`, its number of levels below `id` plus 1.
    QList<int> descendantHeights(const QString &id, const QSet<QString> &descendants) const;

    // Whether a new collection may be created inside `parentId`.
    bool canNest(const QString &parentId) const;
    // Whether `id` with its subtree may move under `target` (nullopt: the
    // top level) and stay within maximumDepth levels.
    bool canMove(const QString &id, const std::optional<QString> &target) const;
    // The position for a new last child of `parentId` (nullopt: a root).
    qint64 nextPosition(const std::optional<QString> &parentId) const;

    Forest nodes(const QList<Document> &documents) const;
    // The forest in pre-order: each node before its descendants.
    static QList<Node> flattened(const QList<Node> &nodes);

private:
    bool contains(const QString &id) const;
    // Positions in m_collections of the children of `parentId` (nullopt: the
    // roots), in list order.
    const QList<qsizetype> &childIndexes(const std::optional<QString> &parentId) const;
    // Every collection below `id` with its number of levels below it.
    QHash<QString, int> levelsBelow(const QString &id) const;

    QList<Collection> m_collections;
    QHash<QString, QString> m_parents;
    QSet<QString> m_known;
    // Built once, so that walking the tree never scans the whole list per node.
    QHash<QString, QList<qsizetype>> m_children;
    QList<qsizetype> m_roots;
};
