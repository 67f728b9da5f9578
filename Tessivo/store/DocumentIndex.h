#pragma once

#include "store/Document.h"

#include <QHash>
#include <QList>
#include <QString>

// Id to position of the first live document with that id, built lazily from
// the list it is asked about, so that a keystroke never scans the list.
// Whoever changes the list's shape (insertions, removals, reordering)
// invalidates it; edits in place keep it valid.
class DocumentIndex final
{
public:
    // Index of the first document in `documents` with `id`, or -1.
    qsizetype find(const QList<Document> &documents, const QString &id) const;
    void invalidate() { m_valid = false; }

private:
    mutable QHash<QString, qsizetype> m_index;
    mutable bool m_valid = false;
};
