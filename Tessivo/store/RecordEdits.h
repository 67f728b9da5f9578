#pragma once

#include "store/Collection.h"
#include "store/Document.h"

#include <QList>
#include <QString>

#include <optional>

// The local edits of records, as pure functions on the store's lists: the
// store wraps each with its signals, dirty marks and saves. `now` is the
// store's clock in milliseconds since 1970.
namespace RecordEdits {

// A changed record's updatedAt: `now`, but always past the previous value
// (the clock may stand behind a record from another machine); the largest
// value stays.
qint64 bumped(qint64 updatedAt, qint64 now);

// The deleted form of a live record, stamped `now`.
Document tombstone(Document document, qint64 now);
Collection deleted(Collection collection, qint64 now);

// A new document `id` in `collectionId` holding `loser`'s text and front
// matter, titled after it with " (conflicted copy)" appended (as a title
// override, so the text itself is kept as typed), stamped `now`.
Document conflictedCopy(const Document &loser, const QString &id, const std::optional<QString> &collectionId,
                        qint64 now);
// The document to open after the active one was deleted from `collectionId`:
// the first left there, else the first of all, else none.
QString nextActive(const QList<Document> &documents, const std::optional<QString> &collectionId);

// `text` after a blank line at the end of `body`.
QString appended(const QString &body, const QString &text);

// A collection name as stored: trimmed and cut to 100 characters.
QString collectionName(const QString &name);

// A new last child of `parentID` (top level when it cannot take one), or
// nothing for an empty name. Appended to `collections`.
std::optional<Collection> createCollection(QList<Collection> &collections, const QString &name,
                                           std::optional<QString> parentID, qint64 now);

// Nothing when the name is empty or already the collection's; true when
// renamed.
bool renameCollection(QList<Collection> &collections, const QString &id, const QString &name, qint64 now);

enum class Move { Refused, AlreadyThere, Moved };
// Files `id` last under `target` (nullopt: top level) and sorts the list
// again; refused when the tree cannot take it there.
Move moveCollection(QList<Collection> &collections, const QString &id, const std::optional<QString> &target,
                    qint64 now);

} // namespace RecordEdits
