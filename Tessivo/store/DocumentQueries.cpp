#include "DocumentQueries.h"

#include "store/Text.h"

#include <QSet>

namespace DocumentQueries {

namespace {

QString titleKey(const Document &d)
{
    return Text::trimmedWhitespaceAndNewlines(d.displayTitle()).toLower();
}

} // namespace

QList<Document> filtered(const QList<Document> &documents, const QString &search)
{
    const QString query = Text::trimmedSpacesAndTabs(search).toLower();
    if (query.isEmpty()) {
        return documents;
    }
    QList<Document> out;
    for (const Document &d : documents) {
        if (d.displayTitle().toLower().contains(query) || d.body.toLower().contains(query)) {
            out.append(d);
        }
    }
    return out;
}

QStringList linkTitles(const QList<Document> &documents)
{
    QSet<QString> seen;
    QStringList out;
    for (const Document &d : documents) {
        const QString key = titleKey(d);
        if (!seen.contains(key)) {
            seen.insert(key);
            out.append(d.displayTitle());
        }
    }
    return out;
}

QHash<QString, QString> idsByTitle(const QList<Document> &documents)
{
    QHash<QString, QString> map;
    for (const Document &d : documents) {
        const QString key = titleKey(d);
        if (!key.isEmpty() && !map.contains(key)) {
            map.insert(key, d.id);
        }
    }
    return map;
}

} // namespace DocumentQueries
