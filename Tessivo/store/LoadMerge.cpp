#include "LoadMerge.h"

#include <QSet>

#include <algorithm>

namespace LoadMerge {

namespace {

template <typename Record>
QSet<QString> idsOf(const QList<Record> &a, const QList<Record> &b)
{
    QSet<QString> ids;
    ids.reserve(a.size() + b.size());
    for (const QList<Record> *list : {&a, &b}) {
        for (const Record &r : *list) {
            ids.insert(r.id);
        }
    }
    return ids;
}

void appendMissing(QStringList &into, const QStringList &from)
{
    QSet<QString> seen(into.cbegin(), into.cend());
    for (const QString &id : from) {
        if (!seen.contains(id)) {
            seen.insert(id);
            into.append(id);
        }
    }
}

} // namespace

Records merge(const Records &local, Read read)
{
    Records out;
    const QSet<QString> localDocuments = idsOf(local.documents, local.tombstones);
    QList<Document> live;
    for (Document &d : read.documents) {
        if (!localDocuments.contains(d.id)) {
            (d.deletedAt ? out.tombstones : live).append(std::move(d));
        }
    }
    std::stable_sort(live.begin(), live.end(),
                     [](const Document &a, const Document &b) { return a.updatedAt > b.updatedAt; });
    out.documents = local.documents + live;
    out.tombstones += local.tombstones;

    const QSet<QString> localCollections = idsOf(local.collections, local.deletedCollections);
    out.collections = local.collections;
    for (Collection &c : read.collections) {
        if (!localCollections.contains(c.id)) {
            (c.deletedAt ? out.deletedCollections : out.collections).append(std::move(c));
        }
    }
    std::stable_sort(out.collections.begin(), out.collections.end(), Collection::storeOrder);
    out.deletedCollections += local.deletedCollections;

    out.state = std::move(read.state);
    if (!(local.state == Persistence::State{})) {
        appendMissing(out.state.dirtyDocumentIDs, local.state.dirtyDocumentIDs);
        appendMissing(out.state.dirtyCollectionIDs, local.state.dirtyCollectionIDs);
        for (auto it = local.state.publishedSlugs.cbegin(); it != local.state.publishedSlugs.cend(); ++it) {
            out.state.publishedSlugs.insert(it.key(), it.value());
        }
        out.state.syncCursor = std::max(out.state.syncCursor, local.state.syncCursor);
        out.state.welcomeSeeded = out.state.welcomeSeeded || local.state.welcomeSeeded;
    }
    return out;
}

Read readFrom(const QString &base)
{
    Persistence::removeLeftovers(base);
    Read read{Persistence::loadDocuments(base), Persistence::loadCollections(base), {}};
    read.state = Persistence::loadState(base, &read.stateRead);
    return read;
}

} // namespace LoadMerge
