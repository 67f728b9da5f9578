#pragma once

#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

// Record-id rules shared by the app and the service, so that both sides
// accept the same ids and name the same conflicted copy alike.
namespace RecordIds {

// The longest id in UTF-8 bytes. A document is written as "<id>.json" and
// set aside as "<id>.json.unreadable.<n>", next to the temporary files of
// atomic saves: this leaves room for all of them in a 255-byte file name.
inline constexpr qsizetype maxBytes = 200;

// Whether `id` may name a document or a collection: 1 to maxBytes bytes of
// UTF-8, not "." or "..", without "/", "\" or any control character
// (NUL included).
bool isValid(QStringView id);

// Why `id` is not valid, for the service's "invalid" answer; empty when it is.
QString problem(QStringView id);

// The id of the conflicted copy that keeps the losing version of document
// `documentId` last changed at `loserUpdatedAt`: a lower-case name-based
// UUID (version 5) over "<documentId>:<loserUpdatedAt>". The app and the
// service give one loser the same id, so a copy is made once however many
// times and wherever the conflict is met.
QString conflictedCopyID(const QString &documentId, qint64 loserUpdatedAt);
// The `n`th id of that loser's copy (n from 1): the one above for 1, a
// name-based UUID over "<documentId>:<loserUpdatedAt>#<n>" after it, which
// no first id can equal. A later id is taken only when each earlier one
// holds another text: two versions of one document can share an updatedAt.
QString conflictedCopyID(const QString &documentId, qint64 loserUpdatedAt, int n);

// What an id holds, to the side placing a copy.
enum class CopySlot {
    free,      // nothing
    sameText,  // a live document with the loser's text: the copy is made
    otherText, // another text, or a deleted document
};
struct CopyPlace
{
    QString id;
    // The id holds the copy already.
    bool made = false;
};
// Where the copy of the loser of document `documentId` last changed at
// `loserUpdatedAt` goes: its first id (see conflictedCopyID) that is free
// or holds the same text, as `slot` says. Both sides walk the ids alike,
// so that they agree on the copy's id wherever both make it. Nothing when
// each of the first `tries` ids holds another text (one more try than
// the ids held is always enough).
std::optional<CopyPlace> conflictedCopyPlace(const QString &documentId, qint64 loserUpdatedAt,
                                             qsizetype tries,
                                             const std::function<CopySlot(const QString &id)> &slot);

} // namespace RecordIds
