#include "sidebar/core/CollapsedCollections.h"

#include <QStringList>

#include <algorithm>

namespace CollapsedCollections {

QSet<QString> decode(const QString &stored)
{
    QSet<QString> ids;
    for (const QString &part : stored.split(u',', Qt::SkipEmptyParts))
        ids.insert(part);
    return ids;
}

QString encode(const QSet<QString> &ids)
{
    QStringList sorted(ids.cbegin(), ids.cend());
    // QString's operator< compares UTF-16 code units, which can order
    // astral characters differently from code points; compare by code point.
    std::sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) {
        const QList<uint> ua = a.toUcs4();
        const QList<uint> ub = b.toUcs4();
        return std::lexicographical_compare(ua.cbegin(), ua.cend(), ub.cbegin(), ub.cend());
    });
    return sorted.join(u',');
}

} // namespace CollapsedCollections
