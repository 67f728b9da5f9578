#pragma once

#include "store/Collection.h"
#include "store/Document.h"

#include <QRandomGenerator>

#include <limits>

// Documents and collections as the app may hold them, drawn at random from a
// seeded generator: unusual text, every optional member present or absent,
// 64-bit times from the extremes as well as the middle. Ids are unique per
// generator (the index is part of them) and hold no NUL, which the service's
// storage keys refuse on PostgreSQL.
class RandomRecords
{
public:
    explicit RandomRecords(quint32 seed) : m_random(seed) {}

    Document document()
    {
        Document d;
        d.id = id();
        d.title = text(false);
        d.body = text(true);
        if (coin()) {
            d.frontmatter.title = maybeText();
            d.frontmatter.description = maybeText();
            d.frontmatter.slug = maybeText();
            d.frontmatter.date = maybeText();
            if (coin())
                d.frontmatter.tags = QStringList{text(false), text(false)};
            if (coin())
                d.frontmatter.draft = true;
        }
        if (coin())
            d.overrides = QStringList{QStringLiteral("title"), text(false)};
        d.createdAt = time();
        d.updatedAt = time();
        if (coin())
            d.deletedAt = time();
        if (coin())
            d.collectionId = text(false);
        if (coin())
            d.serverUpdatedAt = time();
        return d;
    }

    Collection collection()
    {
        Collection c;
        c.id = id();
        c.name = text(false);
        c.position = time();
        c.parentKnown = coin();
        if (c.parentKnown && coin())
            c.parentId = text(false);
        c.createdAt = time();
        c.updatedAt = time();
        if (coin())
            c.deletedAt = time();
        if (coin())
            c.serverUpdatedAt = time();
        return c;
    }

private:
    bool coin() { return m_random.bounded(2) == 0; }

    // Any text the id rule lets through: no slash, backslash or control
    // character, at most 200 bytes of UTF-8.
    QString id()
    {
        QString id = QStringLiteral("r%1-").arg(++m_count) + text(false);
        id.removeIf([](QChar c) { return c == u'/' || c == u'\\' || c.category() == QChar::Other_Control; });
        while (id.toUtf8().size() > 200)
            id.chop(1);
        if (id.back().isHighSurrogate())
            id.chop(1);
        return id;
    }

    std::optional<QString> maybeText() { return coin() ? std::optional(text(false)) : std::nullopt; }

    // Letters, quotes, back-slashes, line breaks, emoji, a direction mark,
    // JSON look-alikes and, in bodies, NUL.
    QString text(bool withNul)
    {
        static const QStringList pieces{
            QStringLiteral("a"),      QStringLiteral("Zz"),   QStringLiteral(" "),
            QStringLiteral("\""),     QStringLiteral("\\"),   QStringLiteral("\n"),
            QStringLiteral("\t"),     QStringLiteral("é"),    QStringLiteral("\U0001F600"),
            QStringLiteral("\u202E"), QStringLiteral("--"),   QStringLiteral("/"),
            QStringLiteral("{}"),     QStringLiteral("null"), QStringLiteral("\u00A0")};
        QString out;
        const int n = int(m_random.bounded(12));
        for (int i = 0; i < n; ++i)
            out += pieces.at(qsizetype(m_random.bounded(quint32(pieces.size()))));
        if (withNul && coin())
            out += QChar(u'\0');
        return out;
    }

    qint64 time()
    {
        constexpr qint64 low = std::numeric_limits<qint64>::min();
        constexpr qint64 high = std::numeric_limits<qint64>::max();
        switch (m_random.bounded(5)) {
        case 0:
            return low;
        case 1:
            return high;
        case 2:
            return 0;
        case 3:
            return qint64(m_random.generate64());
        }
        return 1700000000000 + qint64(m_random.bounded(1000000000));
    }

    QRandomGenerator m_random;
    int m_count = 0;
};
