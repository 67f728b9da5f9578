#include "CollectionTree.h"

#include <algorithm>

CollectionTree::CollectionTree(const QList<Collection> &collections) : m_collections(collections)
{
    for (const Collection &c : m_collections) {
        m_known.insert(c.id);
    }
    for (const Collection &c : m_collections) {
        if (!c.parentId) {
            continue;
        }
        const QString &p = *c.parentId;
        if (p != c.id && m_known.contains(p) && !isFixedCollectionID(p) && !isFixedCollectionID(c.id)) {
            m_parents.insert(c.id, p);
        }
    }
    // Every member of a loop becomes a root. The decision for each
    // collection is made against the uncut links; a collection whose chain
    // merely runs into a loop keeps its link.
    QSet<QString> onLoop;
    for (const Collection &c : m_collections) {
        QSet<QString> seen{c.id};
        QString current = c.id;
        while (true) {
            const auto it = m_parents.constFind(current);
            if (it == m_parents.cend()) {
                break;
            }
            if (seen.contains(*it)) {
                if (*it == c.id) {
                    onLoop.insert(c.id);
                }
                break;
            }
            seen.insert(*it);
            current = *it;
        }
    }
    for (const QString &id : std::as_const(onLoop)) {
        m_parents.remove(id);
    }
}

bool CollectionTree::contains(const QString &id) const
{
    return m_known.contains(id);
}

QList<Collection> CollectionTree::children(const std::optional<QString> &parentId) const
{
    QList<Collection> result;
    for (const Collection &c : m_collections) {
        const auto it = m_parents.constFind(c.id);
        const bool isRoot = it == m_parents.cend();
        if (parentId ? (!isRoot && *it == *parentId) : isRoot) {
            result.append(c);
        }
    }
    return result;
}

QStringList CollectionTree::ancestors(const QString &id) const
{
    QStringList chain;
    QString current = id;
    // The parent map has no loops, so the walk ends; the bound is a guard.
    while (chain.size() <= m_parents.size()) {
        const auto it = m_parents.constFind(current);
        if (it == m_parents.cend()) {
            break;
        }
        chain.append(*it);
        current = *it;
    }
    return chain;
}

QSet<QString> CollectionTree::descendants(const QString &id) const
{
    QSet<QString> result;
    for (auto it = m_parents.cbegin(); it != m_parents.cend(); ++it) {
        if (it.key() != id && ancestors(it.key()).contains(id)) {
            result.insert(it.key());
        }
    }
    return result;
}

QList<int> CollectionTree::descendantHeights(const QString &id, const QSet<QString> &descendants) const
{
    QList<int> heights;
    heights.reserve(descendants.size());
    for (const QString &d : descendants) {
        const QStringList chain = ancestors(d);
        const qsizetype levels = chain.indexOf(id) + 1;
        heights.append(static_cast<int>(levels) + 1);
    }
    return heights;
}

bool CollectionTree::canNest(const QString &parentId) const
{
    return contains(parentId) && !isFixedCollectionID(parentId) &&
           ancestors(parentId).size() < maximumDepth - 1;
}

bool CollectionTree::canMove(const QString &id, const std::optional<QString> &target) const
{
    if (!contains(id) || isFixedCollectionID(id)) {
        return false;
    }
    if (!target) {
        return true;
    }
    const QSet<QString> below = descendants(id);
    if (!contains(*target) || isFixedCollectionID(*target) || *target == id || below.contains(*target)) {
        return false;
    }
    const qsizetype a = ancestors(*target).size();
    const QList<int> heights = descendantHeights(id, below);
    const int h = heights.isEmpty() ? 1 : *std::max_element(heights.cbegin(), heights.cend());
    return a + 1 + h < maximumDepth + 1;
}

qint64 CollectionTree::nextPosition(const std::optional<QString> &parentId) const
{
    const QList<Collection> siblings = children(parentId);
    if (siblings.isEmpty()) {
        return 0;
    }
    qint64 largest = siblings.first().position;
    for (const Collection &c : siblings) {
        largest = std::max(largest, c.position);
    }
    return largest + 1;
}

CollectionTree::Node CollectionTree::buildNode(const Collection &collection, const QStringList &parentPath,
                                               const QHash<QString, QList<Document>> &buckets) const
{
    Node node;
    node.collection = collection;
    node.path = parentPath;
    node.path.append(collection.name);
    node.depth = static_cast<int>(node.path.size());
    node.documents = buckets.value(collection.id);
    node.totalDocuments = static_cast<int>(node.documents.size());
    for (const Collection &child : children(collection.id)) {
        node.children.append(buildNode(child, node.path, buckets));
        node.totalDocuments += node.children.last().totalDocuments;
    }
    return node;
}

CollectionTree::Forest CollectionTree::nodes(const QList<Document> &documents) const
{
    Forest forest;
    QHash<QString, QList<Document>> buckets;
    for (const Document &d : documents) {
        if (d.collectionId && contains(*d.collectionId)) {
            buckets[*d.collectionId].append(d);
        } else {
            forest.unfiled.append(d);
        }
    }
    for (const Collection &root : children(std::nullopt)) {
        forest.roots.append(buildNode(root, {}, buckets));
    }
    return forest;
}

QList<CollectionTree::Node> CollectionTree::flattened(const QList<Node> &nodes)
{
    QList<Node> result;
    for (const Node &node : nodes) {
        result.append(node);
        result.append(flattened(node.children));
    }
    return result;
}
