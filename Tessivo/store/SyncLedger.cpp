#include "SyncLedger.h"

void SyncLedger::reset(const QStringList &dirtyDocumentIDs, const QStringList &dirtyCollectionIDs)
{
    for (auto [l, ids] :
         {std::pair{&m_documents, &dirtyDocumentIDs}, std::pair{&m_collections, &dirtyCollectionIDs}}) {
        l->order.clear();
        l->dirty.clear();
        for (const QString &id : *ids) {
            if (!l->dirty.contains(id)) {
                l->dirty.insert(id);
                l->order.append(id);
            }
        }
    }
}

bool SyncLedger::mark(Kind kind, const QString &id)
{
    Lane &l = lane(kind);
    ++l.versions[id];
    if (l.dirty.contains(id)) {
        return false;
    }
    l.dirty.insert(id);
    l.order.append(id);
    return true;
}

void SyncLedger::handOut(Kind kind, const QString &id, qint64 updatedAt)
{
    Lane &l = lane(kind);
    l.handedOut.insert(id, l.versions.value(id));
    QList<qint64> &pushed = l.pushed[id];
    if (!pushed.contains(updatedAt)) {
        pushed.append(updatedAt);
    }
}

void SyncLedger::noteAgreed(Kind kind, const QString &id, qint64 updatedAt)
{
    Lane &l = lane(kind);
    l.agreed.insert(id, updatedAt);
    const auto it = l.pushed.find(id);
    if (it != l.pushed.end()) {
        it->removeIf([updatedAt](qint64 pushed) { return pushed <= updatedAt; });
        if (it->isEmpty()) {
            l.pushed.erase(it);
        }
    }
}

bool SyncLedger::isKnownVersion(Kind kind, const QString &id, qint64 updatedAt) const
{
    const Lane &l = lane(kind);
    const auto agreed = l.agreed.constFind(id);
    return (agreed != l.agreed.cend() && *agreed == updatedAt) || l.pushed.value(id).contains(updatedAt);
}

bool SyncLedger::clearAccepted(Kind kind, const QStringList &acceptedIDs)
{
    Lane &l = lane(kind);
    QSet<QString> clear;
    for (const QString &id : acceptedIDs) {
        const auto it = l.handedOut.constFind(id);
        if (it != l.handedOut.cend() && *it != l.versions.value(id)) {
            continue; // the server has an older version than this one
        }
        clear.insert(id);
        l.handedOut.remove(id);
    }
    return remove(l, clear);
}

bool SyncLedger::forget(Kind kind, const QSet<QString> &ids)
{
    return remove(lane(kind), ids);
}

bool SyncLedger::remove(Lane &lane, const QSet<QString> &ids)
{
    const qsizetype before = lane.order.size();
    lane.order.removeIf([&](const QString &id) { return ids.contains(id); });
    for (const QString &id : ids) {
        lane.dirty.remove(id);
    }
    return lane.order.size() != before;
}
