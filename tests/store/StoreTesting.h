#pragma once

#include "store/Collection.h"
#include "store/Document.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

// Records and files for the store's tests.
namespace StoreTesting {

inline Document makeDocument(const QString &id, qint64 updatedAt = 2, const QString &body = QString())
{
    Document d;
    d.id = id;
    d.body = body.isNull() ? u"# "_s + id : body;
    d.title = Document::deriveTitle(d.body);
    d.createdAt = 1;
    d.updatedAt = updatedAt;
    return d;
}

inline Document makeTombstone(const QString &id, qint64 updatedAt)
{
    Document d = makeDocument(id, updatedAt, u""_s);
    d.title.clear();
    d.deletedAt = updatedAt;
    return d;
}

inline Collection makeCollection(const QString &id, qint64 position = 0, qint64 createdAt = 1)
{
    Collection c;
    c.id = id;
    c.name = id.toUpper();
    c.position = position;
    c.parentKnown = true;
    c.createdAt = c.updatedAt = createdAt;
    return c;
}

template <typename Record>
QStringList ids(const QList<Record> &records)
{
    QStringList out;
    for (const Record &r : records) {
        out << r.id;
    }
    return out;
}

inline QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QJsonDocument readJson(const QString &path)
{
    return QJsonDocument::fromJson(readBytes(path));
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace StoreTesting
