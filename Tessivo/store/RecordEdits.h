#pragma once

#include "store/Collection.h"
#include "store/Document.h"
#include "store/TextRange.h"

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

// What edits did to a body.
enum class BodyEdit { DoesNotFit, Unchanged, Changed };
// Applies `edits`, in order, to `body` in place when every one fits the text
// it meets and they leave it `resultLength` long; otherwise, and for an edit
// that puts back the text it replaces, nothing is changed. In place while
// nothing else holds the body, so that a long text is not copied per key.
BodyEdit applyEdits(QString &body, const QList<TextEdit> &edits, qsizetype resultLength);

// Derives the title from the body again, unless the front matter sets it.
void retitle(Document &document);

// A new unfiled document from a Markdown file, stamped `now`: front matter
// split off, `name` as title when the body gives none.
Document imported(const QString &name, const QString &text, qint64 now);
// The body of a new document titled `title` ("Untitled" when blank).
QString titledBody(const QString &title);

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
