#include "store/ExcerptCache.h"

QString ExcerptCache::excerpt(const Document &document) const
{
    const auto it = m_entries.constFind(document.id);
    if (it != m_entries.cend() && it->updatedAt == document.updatedAt) {
        return it->text;
    }
    QString text;
    if (document.overrides.contains(QStringLiteral("description")) && document.frontmatter.description &&
        !document.frontmatter.description->isEmpty()) {
        text = *document.frontmatter.description;
    } else {
        text = Document::excerpt(document.body);
    }
    m_entries.insert(document.id, Entry{document.updatedAt, text});
    return text;
}
