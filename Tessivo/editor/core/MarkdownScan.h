#pragma once

#include <QChar>
#include <QHash>
#include <QList>
#include <QStringView>

// Character classes and scanners shared by the Markdown passes. They work on
// UTF-16 code units and run in time linear in the text, so that hostile input
// (floods of delimiters, megabyte-long lines) cannot stall a render or the
// editor.
namespace MarkdownScan {

// Unicode White_Space, as Text::isWhitespaceOrNewline defines it. Every
// such character lies in the BMP, so one code unit decides; a surrogate is
// never white space.
bool isWhiteSpace(char16_t c);

// Text::isLineBreak: the line terminators of the regular-expression engine: LF, VT, FF, CR,
// U+0085, U+2028, U+2029.
bool isLineTerminator(char16_t c);

inline bool isWhiteSpace(QChar c)
{
    return isWhiteSpace(c.unicode());
}
inline bool isLineTerminator(QChar c)
{
    return isLineTerminator(c.unicode());
}

// The code point that starts at `i` (a lone surrogate stands for itself).
char32_t codePointAt(QStringView text, qsizetype i);
// The code point that ends just before `i`.
char32_t codePointBefore(QStringView text, qsizetype i);

// The first "ab" at or after `from`, or -1; and how many of them (counted
// without overlap). Faster than QStringView's search for a two-character
// needle: the first character is found with the library's vectorised scan.
qsizetype indexOfPair(QStringView text, char16_t a, char16_t b, qsizetype from = 0);
qsizetype countPairs(QStringView text, char16_t a, char16_t b);

// Unicode numbers (decimal digits, letter numbers, other numbers).
bool isNumber(char32_t c);
// The regular-expression word class: letters, marks, decimal digits,
// connector punctuation, ZWNJ and ZWJ.
bool isWordCharacter(char32_t c);

// Finds, for a run length n and a position, the next maximal run of exactly n
// backticks, in logarithmic time after one linear pass over the text.
class BacktickRuns
{
public:
    explicit BacktickRuns(QStringView text);
    // Start of the first maximal run of exactly `length` backticks that
    // starts at or after `from`; -1 when there is none.
    qsizetype next(qsizetype length, qsizetype from) const;

private:
    QHash<qsizetype, QList<qsizetype>> m_startsByLength;
};

// A delimited pair: "<delim>(?=\S)(.+?)(?<=\S)<delim>", where `.` does not
// cross line terminators. The inner text is [start + 2, end - 2).
struct Pair
{
    qsizetype start = 0;
    qsizetype end = 0;
};

enum class PairKind : quint8 {
    Bold,      // "**" or "__", closed by the same delimiter
    Strike,    // "~~"
    Highlight, // "==" not after "=" or "\", and the closing "==" not followed by "="
};

// All leftmost non-overlapping pairs of `kind`, in text order.
QList<Pair> findPairs(QStringView text, PairKind kind);

} // namespace MarkdownScan
