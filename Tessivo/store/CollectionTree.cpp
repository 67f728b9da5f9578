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
    // merely runs into a loop keeps its link. Each link is followed once:
    // a walk stops at the first collection an earlier walk has settled.
    enum class Walk { OnPath, Settled };
    QHash<QString, Walk> walked;
    QSet<QString> onLoop;
    for (const Collection &c : m_collections) {
        QStringList path;
        QString current = c.id;
        bool reachedRoot = false;
        while (!walked.contains(current)) {
            walked.insert(current, Walk::OnPath);
            path.append(current);
            const auto it = m_parents.constFind(current);
            if (it == m_parents.cend()) {
                reachedRoot = true;
                break;
            }
            current = *it;
        }
        if (!reachedRoot && walked.value(current) == Walk::OnPath) {
            // The walk came back to its own path: from there on it is a loop.
            for (qsizetype i = path.indexOf(current); i < path.size(); ++i) {
                onLoop.insert(path.at(i));
            }
        }
        for (const QString &id : std::as_const(path)) {
            walked.insert(id, Walk::Settled);
        }
    }
    for (const QString &id : std::as_const(onLoop)) {
        m_parents.remove(id);
    }
    for (qsizetype i = 0; i < m_collections.size(); ++i) {
        const auto it = m_parents.constFind(m_collections.at(i).id);
        (it == m_parents.cend() ? m_roots : m_children[*it]).append(i);
    }
}

bool CollectionTree::contains(const QString &id) const
{
    return m_known.contains(id);
}

const QList<qsizetype> &CollectionTree::childIndexes(const std::optional<QString> &parentId) const
{
    static const QList<qsizetype> none;
    if (!parentId) {
        return m_roots;
    }
    const auto it = m_children.constFind(*parentId);
    return it == m_children.cend() ? none : *it;
}

QList<Collection> CollectionTree::children(const std::optional<QString> &parentId) const
{
    QList<Collection> result;
    for (qsizetype i : childIndexes(parentId)) {
        result.append(m_collections.at(i));
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

QHash<QString, int> CollectionTree::levelsBelow(const QString &id) const
{
    QHash<QString, int> levels;
    QList<std::pair<QString, int>> queue{{id, 0}};
    for (qsizetype next = 0; next < queue.size(); ++next) {
        const auto [parent, level] = queue.at(next);
        for (qsizetype i : childIndexes(parent)) {
            const QString &child = m_collections.at(i).id;
            if (child != id && !levels.contains(child)) {
                levels.insert(child, level + 1);
                queue.append({child, level + 1});
            }
        }
    }
    return levels;
}

QSet<QString> CollectionTree::descendants(const QString &id) const
{
    const QHash<QString, int> levels = levelsBelow(id);
    QSet<QString> result;
    result.reserve(levels.size());
    for (auto it = levels.cbegin(); it != levels.cend(); ++it) {
        result.insert(it.key());
    }
    return result;
}

QList<int> CollectionTree::descendantHeights(const QString &id, const QSet<QString> &descendants) const
{
    const QHash<QString, int> levels = levelsBelow(id);
    QList<int> heights;
    heights.reserve(descendants.size());
    for (const QString &d : descendants) {
        heights.append(levels.value(d) + 1);
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
    // Built without recursion, so that a deep chain read from a hand-edited
    // file cannot exhaust the stack: nodes are made in pre-order, then each
    // takes its finished children, last node first.
    QList<Node> built;
    QList<QList<qsizetype>> kids;
    QList<qsizetype> rootSlots;
    QList<std::pair<qsizetype, qsizetype>> stack; // collection, parent slot
    for (auto it = m_roots.crbegin(); it != m_roots.crend(); ++it) {
        stack.append({*it, -1});
    }
    while (!stack.isEmpty()) {
        const auto [index, parentSlot] = stack.takeLast();
        const qsizetype slot = built.size();
        Node node;
        node.collection = m_collections.at(index);
        node.path = CollectionPath(parentSlot < 0 ? CollectionPath() : built.at(parentSlot).path,
                                   node.collection.name);
        node.depth = static_cast<int>(node.path.size());
        node.documents = buckets.value(node.collection.id);
        node.totalDocuments = static_cast<int>(node.documents.size());
        built.append(std::move(node));
        kids.append(QList<qsizetype>());
        (parentSlot < 0 ? rootSlots : kids[parentSlot]).append(slot);
        const QList<qsizetype> &children = childIndexes(m_collections.at(index).id);
        for (auto it = children.crbegin(); it != children.crend(); ++it) {
            stack.append({*it, slot});
        }
    }
    for (qsizetype slot = built.size() - 1; slot >= 0; --slot) {
        Node &node = built[slot];
        for (qsizetype kid : std::as_const(kids.at(slot))) {
            node.totalDocuments += built.at(kid).totalDocuments;
            node.children.append(std::move(built[kid]));
        }
    }
    for (qsizetype slot : std::as_const(rootSlots)) {
        forest.roots.append(std::move(built[slot]));
    }
    return forest;
}

QList<CollectionTree::Node> CollectionTree::flattened(const QList<Node> &nodes)
{
    QList<Node> result;
    QList<const Node *> stack;
    for (auto it = nodes.crbegin(); it != nodes.crend(); ++it) {
        stack.append(&*it);
    }
    while (!stack.isEmpty()) {
        const Node *node = stack.takeLast();
        result.append(*node);
        for (auto it = node->children.crbegin(); it != node->children.crend(); ++it) {
            stack.append(&*it);
        }
    }
    return result;
}
