#include "editor/core/MarkdownScan.h"

#include "store/Text.h"

#include <QChar>

#include <algorithm>

namespace MarkdownScan {

bool isWhiteSpace(char16_t c)
{
    return Text::isWhitespaceOrNewline(c);
}

bool isLineTerminator(char16_t c)
{
    return Text::isLineBreak(c);
}

char32_t codePointAt(QStringView text, qsizetype i)
{
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        return QChar::surrogateToUcs4(c, text[i + 1]);
    }
    return c.unicode();
}

char32_t codePointBefore(QStringView text, qsizetype i)
{
    const QChar c = text[i - 1];
    if (c.isLowSurrogate() && i >= 2 && text[i - 2].isHighSurrogate()) {
        return QChar::surrogateToUcs4(text[i - 2], c);
    }
    return c.unicode();
}

qsizetype indexOfPair(QStringView text, char16_t a, char16_t b, qsizetype from)
{
    const qsizetype last = text.size() - 1;
    for (qsizetype at = text.indexOf(QChar(a), from); at >= 0 && at < last;
         at = text.indexOf(QChar(a), at + 1)) {
        if (text[at + 1] == QChar(b)) {
            return at;
        }
    }
    return -1;
}

qsizetype countPairs(QStringView text, char16_t a, char16_t b)
{
    qsizetype count = 0;
    for (qsizetype at = indexOfPair(text, a, b); at >= 0; at = indexOfPair(text, a, b, at + 2)) {
        ++count;
    }
    return count;
}

bool isNumber(char32_t c)
{
    return QChar::isNumber(c);
}

bool isWordCharacter(char32_t c)
{
    return Text::isWordCharacter(c);
}

BacktickRuns::BacktickRuns(QStringView text)
{
    const qsizetype n = text.size();
    qsizetype i = text.indexOf(u'`');
    while (i >= 0 && i < n) {
        qsizetype j = i;
        while (j < n && text[j] == u'`') {
            ++j;
        }
        m_startsByLength[j - i].append(i);
        i = text.indexOf(u'`', j);
    }
}

qsizetype BacktickRuns::next(qsizetype length, qsizetype from) const
{
    const auto it = m_startsByLength.constFind(length);
    if (it == m_startsByLength.constEnd()) {
        return -1;
    }
    const QList<qsizetype> &starts = it.value();
    const auto found = std::lower_bound(starts.begin(), starts.end(), from);
    return found == starts.end() ? -1 : *found;
}

namespace {

// The first position >= from where `accept` holds, remembering the answer so
// that queries with non-decreasing `from` cost linear time in total.
template <typename Accept>
class ForwardFinder
{
public:
    ForwardFinder(qsizetype size, Accept accept) : m_size(size), m_accept(accept) {}

    qsizetype find(qsizetype from)
    {
        if (m_found < from) {
            m_found = from;
            while (m_found < m_size && !m_accept(m_found)) {
                ++m_found;
            }
        }
        return m_found;
    }

private:
    qsizetype m_size;
    Accept m_accept;
    qsizetype m_found = -1;
};

} // namespace

QList<Pair> findPairs(QStringView text, PairKind kind)
{
    QList<Pair> pairs;
    const qsizetype n = text.size();
    const auto closerOf = [text, n, kind](char16_t delimiter) {
        return [text, n, kind, delimiter](qsizetype e) {
            return e + 1 < n && text[e] == delimiter && text[e + 1] == delimiter &&
                   !isWhiteSpace(text[e - 1]) &&
                   (kind != PairKind::Highlight || e + 2 >= n || text[e + 2] != u'=');
        };
    };
    const char16_t first = kind == PairKind::Bold ? u'*' : kind == PairKind::Strike ? u'~' : u'=';
    ForwardFinder closeFirst(n, closerOf(first));
    ForwardFinder closeUnderscore(n, closerOf(u'_'));
    // Every line terminator lies at or below CR or at or above U+0085: the
    // characters between are ruled out without the full test.
    ForwardFinder terminator(n, [text](qsizetype i) {
        const char16_t u = text[i].unicode();
        return (u <= u'\r' || u >= 0x85) && isLineTerminator(u);
    });

    qsizetype s = 0;
    while (s + 2 < n) {
        if (kind != PairKind::Bold && text[s] != QChar(first)) {
            // One delimiter character: the next candidate is found by the
            // library's vectorised search.
            s = text.indexOf(QChar(first), s);
            if (s < 0) {
                break;
            }
            continue;
        }
        const char16_t c = text[s].unicode();
        const bool underscore = kind == PairKind::Bold && c == u'_';
        if ((c == first || underscore) && text[s + 1] == c && !isWhiteSpace(text[s + 2]) &&
            (kind != PairKind::Highlight || s == 0 || (text[s - 1] != u'=' && text[s - 1] != u'\\'))) {
            const qsizetype e = underscore ? closeUnderscore.find(s + 3) : closeFirst.find(s + 3);
            if (e < n && terminator.find(s + 2) > e) {
                pairs.append({s, e + 2});
                s = e + 2;
                continue;
            }
        }
        ++s;
    }
    return pairs;
}

} // namespace MarkdownScan
