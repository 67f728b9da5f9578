#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// Merging records pulled from the server into a store's lists. Pure.
namespace PullMerge {

// First-match lookup over a list that may gain and lose entries during one
// merge: removals are flags, additions are appended, and the list is
// compacted once at the end.
template <typename Record>
class MergeList
{
public:
    explicit MergeList(const QList<Record> &records) : m_records(records), m_removed(records.size(), false)
    {
        for (qsizetype i = 0; i < m_records.size(); ++i) {
            m_index[m_records.at(i).id].append(i);
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
    void remove(qsizetype i) { m_removed[i] = true; }
    void append(const Record &r)
    {
        m_index[r.id].append(m_records.size());
        m_records.append(r);
        m_removed.append(false);
    }
    QList<Record> compacted() const
    {
        QList<Record> out;
        out.reserve(m_records.size());
        for (qsizetype i = 0; i < m_records.size(); ++i) {
            if (!m_removed.at(i)) {
                out.append(m_records.at(i));
            }
        }
        return out;
    }

private:
    QList<Record> m_records;
    QList<bool> m_removed;
    QHash<QString, QList<qsizetype>> m_index;
};

// Merges pulled records of one kind into the live and deleted lists: the
// newer updatedAt wins, a tie with the same server time changes nothing, and
// a record taken replaces both local copies. `taken` runs for each record
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
    MergeList<Record> live(liveList);
    MergeList<Record> deleted(deletedList);
    bool liveTouched = false;
    bool deletedTouched = false;
    for (const Record &p : pulled) {
        const qsizetype li = live.find(p.id);
        const qsizetype di = deleted.find(p.id);
        if (li >= 0 || di >= 0) {
            const Record &local = li >= 0 ? live.at(li) : deleted.at(di);
            if (p.updatedAt < local.updatedAt) {
                localIsNewer.append(p.id);
                continue;
            }
            if (p.updatedAt == local.updatedAt && p.serverUpdatedAt == local.serverUpdatedAt) {
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
        liveList = live.compacted();
    }
    if (deletedTouched) {
        deletedList = deleted.compacted();
    }
    return localIsNewer;
}

} // namespace PullMerge
