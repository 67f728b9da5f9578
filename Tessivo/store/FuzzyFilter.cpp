#include "FuzzyFilter.h"

#include "store/Text.h"

#include <QTextBoundaryFinder>

#include <numeric>
#include <vector>

namespace {

// A code unit that is a whole user-perceived character on its own, in
// composed form, and never joins its neighbours into one: Latin below the
// combining marks (but not CR, which pairs with LF), kana without the
// combining sound marks, CJK ideographs and precomposed Hangul syllables
// (the jamo that could extend them are not in the set).
bool standsAlone(char16_t c)
{
    if (c < 0x300) {
        return c != u'\r';
    }
    return (c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FA) || (c >= 0x4E00 && c <= 0x9FFF) ||
           (c >= 0xAC00 && c <= 0xD7A3);
}

// Text where every code unit is one character: most titles take this path
// and skip normalisation and the boundary finder.
bool isSimple(QStringView text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return standsAlone(c.unicode()); });
}

// Whether `q` occurs in `t`, in time linear in both (Knuth-Morris-Pratt): a
// naive search is quadratic on long titles with repetitive text, and the
// filter runs on every keystroke.
template <typename Seq>
bool containsSequence(const Seq &t, const Seq &q)
{
    const qsizetype m = q.size();
    if (m == 0) {
        return true;
    }
    std::vector<qsizetype> border(size_t(m), 0);
    for (qsizetype i = 1, k = 0; i < m; ++i) {
        while (k > 0 && !(q[i] == q[k])) {
            k = border[size_t(k - 1)];
        }
        if (q[i] == q[k]) {
            ++k;
        }
        border[size_t(i)] = k;
    }
    for (qsizetype i = 0, k = 0; i < t.size(); ++i) {
        while (k > 0 && !(t[i] == q[k])) {
            k = border[size_t(k - 1)];
        }
        if (t[i] == q[k] && ++k == m) {
            return true;
        }
    }
    return false;
}

template <typename Seq>
std::optional<qint64> scoreSequences(const Seq &q, const Seq &t)
{
    const qsizetype n = t.size();
    const qsizetype m = q.size();
    if (m <= n && std::equal(q.begin(), q.end(), t.begin())) {
        return 1000 - qint64(n);
    }
    if (m <= n && containsSequence(t, q)) {
        return 500 - qint64(n);
    }
    qsizetype held = 0;
    qint64 skipped = 0;
    for (qsizetype i = 0; i < n && held < m; ++i) {
        if (t[i] == q[held]) {
            ++held;
        } else {
            ++skipped;
        }
    }
    if (held < m) {
        return std::nullopt;
    }
    return 100 - skipped;
}

// The text's characters, each one extended grapheme cluster of the
// composed (NFC) form, so that canonically equivalent characters compare
// equal.
QList<QStringView> clusters(const QString &composed)
{
    QList<QStringView> result;
    const QList<qsizetype> bounds = Text::characterBoundaries(composed);
    result.reserve(bounds.size());
    for (qsizetype i = 1; i < bounds.size(); ++i) {
        result.append(QStringView(composed).mid(bounds.at(i - 1), bounds.at(i) - bounds.at(i - 1)));
    }
    return result;
}

} // namespace

QString fuzzyNormalizedQuery(const QString &query)
{
    return Text::trimmedSpacesAndTabs(query).toLower();
}

std::optional<qint64> fuzzyScore(const QString &query, const QString &text)
{
    if (isSimple(query) && isSimple(text)) {
        return scoreSequences(QStringView(query), QStringView(text));
    }
    const QString q = query.normalized(QString::NormalizationForm_C);
    const QString t = text.normalized(QString::NormalizationForm_C);
    return scoreSequences(clusters(q), clusters(t));
}

bool fuzzyQueryNarrows(const QString &wider, const QString &narrower)
{
    return !wider.isEmpty() && narrower.startsWith(wider) && isSimple(narrower);
}

QList<qsizetype> fuzzyFilterLowered(const QStringList &lowered, const QString &normalizedQuery,
                                    const QList<qsizetype> *candidates)
{
    if (normalizedQuery.isEmpty()) {
        return FuzzyFilterDetail::allPositions(lowered.size());
    }
    QList<std::pair<qint64, qsizetype>> scored;
    const auto consider = [&](qsizetype i) {
        if (const auto score = fuzzyScore(normalizedQuery, lowered.at(i))) {
            scored.append({*score, i});
        }
    };
    if (candidates) {
        for (const qsizetype i : *candidates) {
            consider(i);
        }
    } else {
        for (qsizetype i = 0; i < lowered.size(); ++i) {
            consider(i);
        }
    }
    return FuzzyFilterDetail::bestFirst(std::move(scored));
}

namespace FuzzyFilterDetail {

QList<qsizetype> allPositions(qsizetype count)
{
    QList<qsizetype> result(count);
    std::iota(result.begin(), result.end(), qsizetype(0));
    return result;
}

QList<qsizetype> bestFirst(QList<std::pair<qint64, qsizetype>> scored)
{
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto &a, const auto &b) { return a.first > b.first; });
    QList<qsizetype> result;
    result.reserve(scored.size());
    for (const auto &pair : scored) {
        result.append(pair.second);
    }
    return result;
}

std::optional<qint64> scoreText(const QString &normalizedQuery, const QString &text)
{
    // Below U+0300 every letter lower-cases to one code unit, except the
    // dotted capital I, whose full mapping adds a combining dot.
    const bool latin = std::all_of(text.cbegin(), text.cend(),
                                   [](QChar c) { return c.unicode() < 0x300 && c.unicode() != 0x130; });
    if (!latin) {
        return fuzzyScore(normalizedQuery, text.toLower());
    }
    // Filtering lower-cases every entry on every keystroke; a per-thread
    // buffer saves an allocation each time.
    thread_local QString lowered;
    lowered.resize(text.size());
    QChar *out = lowered.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x80) {
            out[i] = QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c);
        } else {
            out[i] = QChar(char16_t(QChar::toLower(char32_t(c))));
        }
    }
    return fuzzyScore(normalizedQuery, lowered);
}

} // namespace FuzzyFilterDetail
