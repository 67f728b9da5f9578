#pragma once

#include "store/Collection.h"
#include "store/Document.h"

#include <QCryptographicHash>
#include <QString>

// One line per version of a record, shared by the crash child (which prints
// what it changed) and the test (which compares the files with it).
namespace DocumentStoreReport {

inline QString digest(const QString &text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex().left(16));
}

// "<id> <updatedAt> <deleted 0|1> <collection or parent id, or -> <digest of body or name>"
inline QString key(const Document &d)
{
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(d.id)
        .arg(d.updatedAt)
        .arg(d.deletedAt ? 1 : 0)
        .arg(d.collectionId.value_or(QStringLiteral("-")), digest(d.body));
}

inline QString key(const Collection &c)
{
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(c.id)
        .arg(c.updatedAt)
        .arg(c.deletedAt ? 1 : 0)
        .arg(c.parentId.value_or(QStringLiteral("-")), digest(c.name));
}

inline QString idOf(const QString &key)
{
    return key.section(u' ', 0, 0);
}

inline qint64 updatedAtOf(const QString &key)
{
    return key.section(u' ', 1, 1).toLongLong();
}

} // namespace DocumentStoreReport
