#include "CollectionPath.h"

#include <algorithm>

CollectionPath::CollectionPath(const CollectionPath &parent, const QString &name)
    : m_last(std::make_shared<Link>())
{
    m_last->name = name;
    m_last->parent = parent.m_last;
    m_last->size = parent.size() + 1;
}

CollectionPath::Link::~Link()
{
    std::shared_ptr<Link> next = std::move(parent);
    while (next && next.use_count() == 1) {
        next = std::move(next->parent);
    }
}

QStringList CollectionPath::toList() const
{
    QStringList names(size());
    qsizetype i = size();
    for (const Link *link = m_last.get(); link; link = link->parent.get()) {
        names[--i] = link->name;
    }
    return names;
}

QString CollectionPath::join(QStringView separator) const
{
    qsizetype length = separator.size() * std::max<qsizetype>(0, size() - 1);
    for (const Link *link = m_last.get(); link; link = link->parent.get()) {
        length += link->name.size();
    }
    QString out(length, Qt::Uninitialized);
    qsizetype end = length;
    for (const Link *link = m_last.get(); link; link = link->parent.get()) {
        end -= link->name.size();
        std::copy(link->name.cbegin(), link->name.cend(), out.begin() + end);
        if (link->parent) {
            end -= separator.size();
            std::copy(separator.cbegin(), separator.cend(), out.begin() + end);
        }
    }
    return out;
}

bool operator==(const CollectionPath &a, const CollectionPath &b)
{
    if (a.size() != b.size()) {
        return false;
    }
    const CollectionPath::Link *x = a.m_last.get();
    const CollectionPath::Link *y = b.m_last.get();
    // Paths built from one parent share their upper links: equal from there.
    while (x != y) {
        if (x->name != y->name) {
            return false;
        }
        x = x->parent.get();
        y = y->parent.get();
    }
    return true;
}
