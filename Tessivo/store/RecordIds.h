#pragma once

#include <QString>
#include <QStringView>

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

} // namespace RecordIds
