#include "store/DocumentIndex.h"

qsizetype DocumentIndex::find(const QList<Document> &documents, const QString &id) const
{
    if (!m_valid) {
        m_index.clear();
        m_index.reserve(documents.size());
        // Backwards, so that the first document with an id wins when ids
        // repeat (files copied by hand can do that).
        for (qsizetype i = documents.size() - 1; i >= 0; --i) {
            m_index.insert(documents.at(i).id, i);
        }
        m_valid = true;
    }
    const auto it = m_index.constFind(id);
    return it == m_index.cend() ? -1 : *it;
}
