#include "FuzzyFilter.h"

#include "store/Text.h"

#include <QTextBoundaryFinder>

namespace {

// Text where every code unit is one user-perceived character and already in
// composed form: below the combining marks, without surrogates or CR (which
// pairs with LF). Latin titles take this path and skip the boundary finder.
bool isSimple(QStringView text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x300 && c != u'\r'; });
}

template <typename Seq>
std::optional<qint64> scoreSequences(const Seq &q, const Seq &t)
{
    const qsizetype n = t.size();
    const qsizetype m = q.size();
    if (m <= n && std::equal(q.begin(), q.end(), t.begin())) {
        return 1000 - qint64(n);
    }
    if (m <= n && std::search(t.begin(), t.end(), q.begin(), q.end()) != t.end()) {
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
