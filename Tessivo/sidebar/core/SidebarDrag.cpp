#include "sidebar/core/SidebarDrag.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>

namespace SidebarDrag {

QByteArray encodeReference(const QString &id)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("id"), id}}).toJson(QJsonDocument::Compact);
}

std::optional<QString> decodeReference(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonValue id = doc.object().value(QStringLiteral("id"));
    if (!id.isString())
        return std::nullopt;
    return id.toString();
}

static QMimeData *mimeData(const char *type, const QString &id)
{
    auto *mime = new QMimeData;
    mime->setData(QString::fromLatin1(type), encodeReference(id));
    return mime;
}

QMimeData *documentMimeData(const QString &documentID)
{
    return mimeData(documentReferenceType, documentID);
}

QMimeData *collectionMimeData(const QString &collectionID)
{
    return mimeData(collectionReferenceType, collectionID);
}

QList<Item> items(const QMimeData *mime, bool acceptDocuments, bool acceptCollections)
{
    QList<Item> result;
    if (!mime)
        return result;
    const auto take = [&](const char *type, Item::Kind kind) {
        const QString format = QString::fromLatin1(type);
        if (!mime->hasFormat(format))
            return;
        if (const auto id = decodeReference(mime->data(format)))
            result.append(Item{kind, *id});
    };
    if (acceptDocuments)
        take(documentReferenceType, Item::Kind::Document);
    if (acceptCollections)
        take(collectionReferenceType, Item::Kind::Collection);
    return result;
}

} // namespace SidebarDrag
