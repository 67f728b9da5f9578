#pragma once

#include <QSet>
#include <QString>

// The set of collapsed collection ids and its stored form: the ids sorted by
// code point and joined by single commas. Ids are never pruned, so an id of a
// deleted or unknown collection simply has no effect.
namespace CollapsedCollections {

// Splits on commas and drops empty parts; runs of commas are harmless.
QSet<QString> decode(const QString &stored);
// Sorted ascending by plain string comparison, joined with "," and no spaces.
QString encode(const QSet<QString> &ids);

} // namespace CollapsedCollections
