#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringView>

// Text helpers shared by every subsystem, so that each rule about characters,
// white space and patterns is written once.
//
// Positions handed between components are UTF-16 offsets (QString indices).
// Limits that a user sees (title length, excerpt length, fuzzy scores) count
// user-perceived characters: extended grapheme clusters.
namespace Text {

// --- User-perceived characters -------------------------------------------

// Number of extended grapheme clusters in `text`.
qsizetype characterCount(QStringView text);

// The first `count` user-perceived characters of `text` (all of it when it is
// shorter). Never splits a cluster or a surrogate pair.
QString leftCharacters(QStringView text, qsizetype count);

// UTF-16 offsets of every grapheme boundary from 0 to text.size(), both ends
// included. Useful when a caller walks characters more than once.
QList<qsizetype> characterBoundaries(QStringView text);

// --- White space ------------------------------------------------------------

// The white-space sets of the app, written once here for every pass. Together
// they make Unicode's White_Space property; all its members lie in the BMP, so
// one UTF-16 code unit decides and a surrogate is never white space.

// Spaces and tabs: the tab and every Unicode space separator (category Zs).
// Line breaks are not part of this set.
bool isSpaceOrTab(char32_t c);

// White space and line breaks: the set above plus LF, VT, FF, CR, U+0085 and
// the line and paragraph separators.
bool isWhitespaceOrNewline(char32_t c);

// The line ends that the excerpt honours: LF, VT, FF, CR, U+0085, U+2028 and
// U+2029 (a CR LF pair is one break; see splitLinesAnyBreak).
bool isLineBreak(char32_t c);

// Word characters, for \w in patterns and the hand-written scanners alike:
// letters, marks, decimal digits, letter numbers, connector punctuation, ZWNJ
// and ZWJ.
bool isWordCharacter(char32_t c);

QString trimmedSpacesAndTabs(QStringView text);
QString trimmedWhitespaceAndNewlines(QStringView text);
// The same trims as views into `text`, for scans that must not allocate.
QStringView trimmedSpacesAndTabsView(QStringView text);
QStringView trimmedWhitespaceAndNewlinesView(QStringView text);

// Cuts at every LF and keeps empty lines: n line feeds give n + 1 lines.
// A CR before the LF stays in the line.
QList<QStringView> splitLinesLF(QStringView text);

// Cuts at every line break of isLineBreak, treating CR LF as one break.
QList<QStringView> splitLinesAnyBreak(QStringView text);

// The same cuts, one line at a time, for scans that usually stop early:
// `f(line)` is called for each line in order until it returns false.
template <typename F>
void forEachLineLF(QStringView text, F &&f)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'\n') {
            if (!f(text.mid(start, i - start))) {
                return;
            }
            start = i + 1;
        }
    }
    f(text.mid(start));
}

template <typename F>
void forEachLineAnyBreak(QStringView text, F &&f)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (!isLineBreak(c)) {
            continue;
        }
        const QStringView line = text.mid(start, i - start);
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
            ++i;
        }
        start = i + 1;
        if (!f(line)) {
            return;
        }
    }
    f(text.mid(start));
}

// --- Regular expressions -----------------------------------------------------

// Builds a fixed pattern so that it behaves as the rules of this app expect:
// \w (and \b) match isWordCharacter, \d, \s and case folding follow Unicode, and "$", "^" (with multiline)
// and "." treat every Unicode line end (LF, CR, CR LF, VT, FF, U+0085, U+2028,
// U+2029) as a line end. The pattern is compiled before it is returned.
//
// Compile once and share: keep the result in a function-local static, e.g.
//   static const QRegularExpression re = Text::regex(uR"(^\d+$)"_qs);
// A const QRegularExpression may be matched from several threads at once.
// A pattern that fails to compile is a programming error and aborts.
QRegularExpression regex(const QString &pattern,
                         QRegularExpression::PatternOptions options = QRegularExpression::NoPatternOption);

// Replaces every match of `re` in `text` by its first capture group.
QString replaceWithFirstCapture(const QString &text, const QRegularExpression &re);

} // namespace Text
