#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class QMimeData;

// Drag payloads of the sidebar. A document row carries a document reference,
// a collection header a collection reference; each is the JSON object
// {"id":"<id>"} under its own MIME format.
namespace SidebarDrag {

inline constexpr char documentReferenceType[] = "com.tessivo.document-reference";
inline constexpr char collectionReferenceType[] = "com.tessivo.collection-reference";

QByteArray encodeReference(const QString &id);
// The id of a reference payload; nothing when the data is not a JSON object
// whose "id" member is a string.
std::optional<QString> decodeReference(const QByteArray &data);

QMimeData *documentMimeData(const QString &documentID);
QMimeData *collectionMimeData(const QString &collectionID);

// One item a drop delivers to a collection section.
struct Item
{
    enum class Kind { Document, Collection };
    Kind kind;
    QString id;
    friend bool operator==(const Item &, const Item &) = default;
};

// The items of a drop, documents first, then collections. A format whose
// payload does not decode delivers nothing. `acceptDocuments` and
// `acceptCollections` restrict which formats are read at all.
QList<Item> items(const QMimeData *mime, bool acceptDocuments = true, bool acceptCollections = true);

} // namespace SidebarDrag
