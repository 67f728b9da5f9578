#pragma once

#include "store/Document.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// Merging records pulled from the server into a store's lists. Pure.
namespace PullMerge {

// First-match lookup over a list that may gain and lose entries during one
// merge, working on the list in place: removals are flags, additions are
// appended, and the list is compacted once at the end. Only the ids a pull
// names are indexed, so a small pull into a large store costs one pass over
// the ids and copies no record.
template <typename Record>
class MergeList
{
public:
    MergeList(QList<Record> &records, const QSet<QString> &wanted)
        : m_records(records), m_removed(records.size(), false)
    {
        for (qsizetype i = 0; i < m_records.size(); ++i) {
            if (wanted.contains(m_records.at(i).id)) {
                m_index[m_records.at(i).id].append(i);
            }
        }
    }

    // Index of the first entry with `id` still present, or -1.
    qsizetype find(const QString &id) const
    {
        const auto it = m_index.constFind(id);
        if (it == m_index.cend()) {
            return -1;
        }
        for (qsizetype i : *it) {
            if (!m_removed.at(i)) {
                return i;
            }
        }
        return -1;
    }
    const Record &at(qsizetype i) const { return m_records.at(i); }
    void remove(qsizetype i)
    {
        m_removed[i] = true;
        m_anyRemoved = true;
    }
    void append(const Record &r)
    {
        m_index[r.id].append(m_records.size());
        m_records.append(r);
        m_removed.append(false);
    }
    // Drops the removed entries, keeping the order of the rest.
    void compact()
    {
        if (!m_anyRemoved) {
            return;
        }
        qsizetype kept = 0;
        for (qsizetype i = 0; i < m_records.size(); ++i) {
            if (!m_removed.at(i)) {
                if (kept != i) {
                    m_records[kept] = std::move(m_records[i]);
                }
                ++kept;
            }
        }
        m_records.resize(kept);
    }

private:
    QList<Record> &m_records;
    QList<bool> m_removed;
    bool m_anyRemoved = false;
    QHash<QString, QList<qsizetype>> m_index;
};

// Which copy of one record a pull keeps: the newer updatedAt wins; at the
// same updatedAt the pulled one wins unless it carries the same server time
// (then both are the same version and nothing changes).
enum class Winner { same, local, pulled };

template <typename Record>
Winner winner(const Record &pulled, const Record &local)
{
    if (pulled.updatedAt < local.updatedAt) {
        return Winner::local;
    }
    if (pulled.updatedAt == local.updatedAt && pulled.serverUpdatedAt == local.serverUpdatedAt) {
        return Winner::same;
    }
    return Winner::pulled;
}

// What pulling `pulled` does to a document changed here since it was last
// in agreement with the service (`local`, live or deleted). `concurrent`:
// `pulled` is neither that agreed version nor the echo of a push from here,
// so it was written elsewhere without seeing `local`.
struct DirtyMerge
{
    Winner winner = Winner::same;
    // The losing version to keep as a conflicted copy, or null. Only a
    // concurrent loser with text of its own is kept.
    const Document *loser = nullptr;
    // The local copy wins and takes the pulled server time, so that its next
    // push tells the service which version it had seen.
    bool restampLocal = false;
};

inline DirtyMerge mergeDirty(const Document &local, const Document &pulled, bool concurrent)
{
    DirtyMerge out;
    out.winner = winner(pulled, local);
    if (out.winner == Winner::same) {
        return out;
    }
    const Document &loser = out.winner == Winner::local ? pulled : local;
    const Document &kept = out.winner == Winner::local ? local : pulled;
    if (concurrent && !loser.body.isEmpty() && loser.body != kept.body) {
        out.loser = &loser;
    }
    out.restampLocal = out.winner == Winner::local && pulled.serverUpdatedAt &&
                       pulled.serverUpdatedAt != local.serverUpdatedAt;
    return out;
}

// Merges pulled records of one kind into the live and deleted lists by
// winner(), and a record taken replaces both local copies. `taken` runs for each record
// taken. Returns the ids of pulled records whose local copy is newer, in
// pulled order.
template <typename Record, typename Taken>
QStringList mergePulled(const QList<Record> &pulled, QList<Record> &liveList, QList<Record> &deletedList,
                        Taken taken)
{
    QStringList localIsNewer;
    if (pulled.isEmpty()) {
        return localIsNewer;
    }
    QSet<QString> wanted;
    wanted.reserve(pulled.size());
    for (const Record &p : pulled) {
        wanted.insert(p.id);
    }
    MergeList<Record> live(liveList, wanted);
    MergeList<Record> deleted(deletedList, wanted);
    bool liveTouched = false;
    bool deletedTouched = false;
    for (const Record &p : pulled) {
        const qsizetype li = live.find(p.id);
        const qsizetype di = deleted.find(p.id);
        if (li >= 0 || di >= 0) {
            const Record &local = li >= 0 ? live.at(li) : deleted.at(di);
            const Winner w = winner(p, local);
            if (w == Winner::local) {
                localIsNewer.append(p.id);
                continue;
            }
            if (w == Winner::same) {
                continue;
            }
        }
        if (li >= 0) {
            live.remove(li);
            liveTouched = true;
        }
        if (di >= 0) {
            deleted.remove(di);
            deletedTouched = true;
        }
        if (p.deletedAt) {
            deleted.append(p);
            deletedTouched = true;
        } else {
            live.append(p);
            liveTouched = true;
        }
        taken(p);
    }
    if (liveTouched) {
        live.compact();
    }
    if (deletedTouched) {
        deleted.compact();
    }
    return localIsNewer;
}

} // namespace PullMerge
