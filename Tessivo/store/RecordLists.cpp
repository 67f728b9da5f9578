#include "RecordLists.h"

#include <algorithm>

namespace RecordLists {

void sortNewestFirst(QList<Document> &documents)
{
    const auto newer = [](const Document &a, const Document &b) { return a.updatedAt > b.updatedAt; };
    // After a pull usually only the few records it appended are out of
    // place: inserting them is the same stable order without moving every
    // record.
    auto sortedEnd = std::is_sorted_until(documents.begin(), documents.end(), newer);
    if (documents.end() - sortedEnd > 8) {
        std::stable_sort(documents.begin(), documents.end(), newer);
        return;
    }
    for (; sortedEnd != documents.end(); ++sortedEnd) {
        std::rotate(std::upper_bound(documents.begin(), sortedEnd, *sortedEnd, newer), sortedEnd,
                    sortedEnd + 1);
    }
}

} // namespace RecordLists
