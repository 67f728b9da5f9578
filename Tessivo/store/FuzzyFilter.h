#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <numeric>
#include <optional>
#include <utility>

// The loose matcher behind every type-to-filter list. An entry whose text
// begins with the query beats one that contains it, which beats one that
// has the query's characters in order; equal scores keep the caller's order.

// Score of `text` for `query`, both already lower-cased; nullopt when the
// text does not match. Prefix: 1000 - length; substring: 500 - length;
// characters in order: 100 - skipped characters. Lengths count
// user-perceived characters, compared by canonical equivalence. Linear in
// the lengths of both. Pure.
std::optional<qint64> fuzzyScore(const QString &query, const QString &text);

// The query as the filter uses it: trimmed of spaces and tabs, lower-cased.
QString fuzzyNormalizedQuery(const QString &query);

namespace FuzzyFilterDetail {
// fuzzyScore of `text` lower-cased; Latin text is lowered without allocating.
std::optional<qint64> scoreText(const QString &normalizedQuery, const QString &text);
// Every position of a list of `count` entries, in order.
QList<qsizetype> allPositions(qsizetype count);
// The positions of (score, position) pairs, best score first, equal scores
// in the order given.
QList<qsizetype> bestFirst(QList<std::pair<qint64, qsizetype>> scored);
} // namespace FuzzyFilterDetail

// The positions in `entries` of those whose text (from `textOf`) matches
// `query`, best first, equal scores in input order. An empty (or blank)
// query keeps every entry. Nothing is copied: long lists filtered on every
// keystroke keep their entries where they are.
template <typename T, typename TextOf>
QList<qsizetype> fuzzyFilterIndices(const QList<T> &entries, const QString &query, TextOf textOf)
{
    const QString q = fuzzyNormalizedQuery(query);
    if (q.isEmpty()) {
        return FuzzyFilterDetail::allPositions(entries.size());
    }
    QList<std::pair<qint64, qsizetype>> scored;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (const auto score = FuzzyFilterDetail::scoreText(q, textOf(entries.at(i)))) {
            scored.append({*score, i});
        }
    }
    return FuzzyFilterDetail::bestFirst(std::move(scored));
}

// Whether every text that `narrower` matches is matched by `wider` too
// (both as fuzzyNormalizedQuery gives them): `narrower` extends a non-empty
// `wider` with characters that each stand alone, so that what is left of a
// match for the longer query is a match for the shorter.
bool fuzzyQueryNarrows(const QString &wider, const QString &narrower);

// fuzzyFilterIndices for a list filtered on every keystroke, over its texts
// lower-cased once beforehand (QString::toLower) and with the query already
// normalised; when `candidates` (ascending positions) is given, only those
// are looked at: the matches of a query that this one narrows.
QList<qsizetype> fuzzyFilterLowered(const QStringList &lowered, const QString &normalizedQuery,
                                    const QList<qsizetype> *candidates = nullptr);

// The entries whose text (from `textOf`) matches `query`, best first, equal
// scores in input order. An empty (or blank) query keeps every entry.
template <typename T, typename TextOf>
QList<T> fuzzyFilter(const QList<T> &entries, const QString &query, TextOf textOf)
{
    if (fuzzyNormalizedQuery(query).isEmpty()) {
        return entries;
    }
    QList<T> result;
    const QList<qsizetype> kept = fuzzyFilterIndices(entries, query, textOf);
    result.reserve(kept.size());
    for (const qsizetype i : kept) {
        result.append(entries.at(i));
    }
    return result;
}

// Plain strings match as themselves.
inline QStringList fuzzyFilter(const QStringList &entries, const QString &query)
{
    return fuzzyFilter(entries, query, [](const QString &s) -> const QString & { return s; });
}
