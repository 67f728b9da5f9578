#pragma once

#include "store/Document.h"

#include <QList>
#include <QString>

#include <optional>

// Whole lists of the store's records: what tells a changed list, and the
// order documents are shown in.
namespace RecordLists {

// A record as a pull can change it. A pull only replaces a record with one
// whose updatedAt or serverUpdatedAt differs, so comparing these tells a
// changed list without holding a second copy of every record.
struct Version
{
    QString id;
    qint64 updatedAt = 0;
    std::optional<qint64> serverUpdatedAt;
    friend bool operator==(const Version &, const Version &) = default;
};

// The versions of a list, in order.
template <typename Record>
QList<Version> versionsOf(const QList<Record> &records)
{
    QList<Version> out;
    out.reserve(records.size());
    for (const Record &r : records) {
        out.append({r.id, r.updatedAt, r.serverUpdatedAt});
    }
    return out;
}

// Newest updatedAt first; records of equal time keep their order.
void sortNewestFirst(QList<Document> &documents);

} // namespace RecordLists
