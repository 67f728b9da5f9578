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
//
// It also remembers, for this run only, which versions (by updatedAt) of
// each record this computer knows the service to hold: the last one it
// agreed on with the service and those it pushed that have not come back
// in a pull yet. A pulled version among them was not written elsewhere.
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
    // Notes that the current version of `id`, last changed at `updatedAt`,
    // goes out in a push.
    void handOut(Kind kind, const QString &id, qint64 updatedAt);
    // The dirty records of `live` then of `deleted`, each handed out.
    template <typename Record>
    QList<Record> handOutDirty(Kind kind, const QList<Record> &live, const QList<Record> &deleted)
    {
        QList<Record> out;
        for (const QList<Record> *list : {&live, &deleted}) {
            for (const Record &r : *list) {
                if (isDirty(kind, r.id)) {
                    out.append(r);
                    handOut(kind, r.id, r.updatedAt);
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

    // The service holds the version of `id` changed at `updatedAt` (a pull
    // brought it, or it answered "ok" to it); pushed versions up to it are
    // no longer waited for.
    void noteAgreed(Kind kind, const QString &id, qint64 updatedAt);
    // Whether the version of `id` changed at `updatedAt` is the last one
    // agreed on, or one handed to a push that has not come back yet.
    bool isKnownVersion(Kind kind, const QString &id, qint64 updatedAt) const;

private:
    struct Lane
    {
        QStringList order;
        QSet<QString> dirty;
        QHash<QString, quint64> versions;
        QHash<QString, quint64> handedOut;
        QHash<QString, qint64> agreed;
        QHash<QString, QList<qint64>> pushed;
    };

    Lane &lane(Kind kind) { return kind == Kind::Document ? m_documents : m_collections; }
    const Lane &lane(Kind kind) const { return kind == Kind::Document ? m_documents : m_collections; }
    static bool remove(Lane &lane, const QSet<QString> &ids);

    Lane m_documents;
    Lane m_collections;
};
