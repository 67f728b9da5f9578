#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// Which records changed here since the server last accepted them, and which
// version of each was handed to a push. Pure bookkeeping: it holds ids
// only, never records, and knows nothing of files or signals.
//
// Every local change raises the record's version. A push asks for the
// dirty records and notes the version each had (handOut); when the server
// accepts an id, clearAccepted removes it only if the record still has
// that version, so an edit made while the push was in flight is sent again.
class SyncLedger final
{
public:
    enum class Kind { Document, Collection };

    // Starts over from persisted dirty lists (duplicates dropped, order kept).
    void reset(const QStringList &dirtyDocumentIDs, const QStringList &dirtyCollectionIDs);

    // In the order the ids were first marked since they were last cleared.
    const QStringList &dirtyIDs(Kind kind) const { return lane(kind).order; }
    bool isDirty(Kind kind, const QString &id) const { return lane(kind).dirty.contains(id); }

    // Counts a local change of `id`; true when the id was not dirty before.
    bool mark(Kind kind, const QString &id);
    // The number of local changes counted for `id` in this run.
    quint64 version(Kind kind, const QString &id) const { return lane(kind).versions.value(id); }
    // Notes that the current version of `id` goes out in a push.
    void handOut(Kind kind, const QString &id);
    // The dirty records of `live` then of `deleted`, each handed out.
    template <typename Record>
    QList<Record> handOutDirty(Kind kind, const QList<Record> &live, const QList<Record> &deleted)
    {
        QList<Record> out;
        for (const QList<Record> *list : {&live, &deleted}) {
            for (const Record &r : *list) {
                if (isDirty(kind, r.id)) {
                    out.append(r);
                    handOut(kind, r.id);
                }
            }
        }
        return out;
    }
    // Removes the accepted ids, except those changed again since they were
    // handed out. An id never handed out is removed. True when the list
    // changed.
    bool clearAccepted(Kind kind, const QStringList &acceptedIDs);
    // Removes the ids whatever their version (a pull replaced the records).
    // True when the list changed.
    bool forget(Kind kind, const QSet<QString> &ids);

private:
    struct Lane
    {
        QStringList order;
        QSet<QString> dirty;
        QHash<QString, quint64> versions;
        QHash<QString, quint64> handedOut;
    };

    Lane &lane(Kind kind) { return kind == Kind::Document ? m_documents : m_collections; }
    const Lane &lane(Kind kind) const { return kind == Kind::Document ? m_documents : m_collections; }
    static bool remove(Lane &lane, const QSet<QString> &ids);

    Lane m_documents;
    Lane m_collections;
};
