#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>

// The names from a root collection down to one collection. A node's path
// shares every name above it with its parent's, so that the paths of a whole
// tree cost one name per collection however deep it nests; the list and the
// joined label are built only when read.
class CollectionPath final
{
public:
    CollectionPath() = default;
    // `parent` with `name` appended.
    CollectionPath(const CollectionPath &parent, const QString &name);

    qsizetype size() const { return m_last ? m_last->size : 0; }
    bool isEmpty() const { return !m_last; }

    // Root first.
    QStringList toList() const;
    QString join(QStringView separator) const;
    QString join(QChar separator) const { return join(QStringView(&separator, 1)); }

    friend bool operator==(const CollectionPath &a, const CollectionPath &b);

private:
    struct Link
    {
        QString name;
        std::shared_ptr<Link> parent;
        qsizetype size = 1;
        // Unlinks a chain that nothing else holds one link at a time, so
        // that dropping a very deep path never recurses.
        ~Link();
    };

    std::shared_ptr<Link> m_last;
};
