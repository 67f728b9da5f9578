#pragma once

#include "store/Document.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// Read-only questions about a list of live documents. Pure; each call walks
// the list once.
namespace DocumentQueries {

// Documents whose display title or body contains `search`, trimmed of
// spaces and tabs and lower-cased; all of them for an empty search.
QList<Document> filtered(const QList<Document> &documents, const QString &search);
// One display title per distinct trimmed, lower-cased title, in list order.
QStringList linkTitles(const QList<Document> &documents);
// Trimmed, lower-cased display title to the id of the first document with it.
QHash<QString, QString> idsByTitle(const QList<Document> &documents);

} // namespace DocumentQueries
