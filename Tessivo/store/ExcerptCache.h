#pragma once

#include "store/Document.h"

#include <QHash>
#include <QString>

// The sidebar's excerpt of each document, worked out again only when the
// document's updatedAt moves.
class ExcerptCache final
{
public:
    // The front-matter description when the document overrides it and it
    // is not empty, else the excerpt of the body.
    QString excerpt(const Document &document) const;

private:
    struct Entry
    {
        qint64 updatedAt = 0;
        QString text;
    };
    mutable QHash<QString, Entry> m_entries;
};
