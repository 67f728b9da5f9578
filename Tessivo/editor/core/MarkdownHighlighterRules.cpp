#include "editor/core/MarkdownHighlighterRules.h"

#include "editor/core/LineClassifier.h"
#include "editor/core/MarkdownScan.h"
#include "store/Text.h"

#include <QRegularExpression>

#include <algorithm>
#include <vector>

using namespace MarkdownScan;

namespace MarkdownHighlighterRules {

namespace {

constexpr TextRange kNoGroup{0, -1};

// The regular-expression engine refuses text with unpaired surrogates; a
// same-length copy with U+FFFD in their place keeps every offset valid.
QString withoutLoneSurrogates(const QString &text)
{
    QString copy;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (!c.isSurrogate()) {
            continue;
        }
        if (c.isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (copy.isNull()) {
            copy = text;
        }
        copy[i] = QChar(QChar::ReplacementCharacter);
    }
    return copy.isNull() ? text : copy;
}

TextRange rangeOf(const QRegularExpressionMatch &m, int group)
{
    if (m.capturedStart(group) < 0) {
        return kNoGroup;
    }
    return {m.capturedStart(group), m.capturedLength(group)};
}

void appendRegexMatches(QList<RuleMatch> &out, const QString &text, const QRegularExpression &re, Style style)
{
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out.append({style, rangeOf(m, 0), rangeOf(m, 1), rangeOf(m, 2)});
    }
}

const QRegularExpression &headingRule()
{
    static const QRegularExpression re =
        Text::regex(QStringLiteral("^(#{1,6})[ \\t]+.*$"), QRegularExpression::MultilineOption);
    return re;
}

const QRegularExpression &listRule()
{
    static const QRegularExpression re =
        Text::regex(QStringLiteral("^[ \\t]*([-*+]|\\d+[.)])[ \\t]+(\\[[ xX]\\][ \\t]+)?"),
                    QRegularExpression::MultilineOption);
    return re;
}

const QRegularExpression &ruleRule()
{
    static const QRegularExpression re =
        Text::regex(QStringLiteral("^(---|\\*\\*\\*|___)[ \\t]*$"), QRegularExpression::MultilineOption);
    return re;
}

const QRegularExpression &inlineCodeRule()
{
    static const QRegularExpression re =
        Text::regex(QStringLiteral("`[^`\\n]+`"), QRegularExpression::MultilineOption);
    return re;
}

const QRegularExpression &italicRule()
{
    static const QRegularExpression re =
        Text::regex(QStringLiteral("(?<![*\\w])(\\*|_)(?=\\S)([^*_\\n]+?)(?<=\\S)\\1(?![*\\w])"),
                    QRegularExpression::MultilineOption);
    return re;
}

// Start of every line: position 0 and after each line terminator (CR LF
// counting as one), as the line anchors see them.
QList<qsizetype> lineStarts(QStringView text)
{
    QList<qsizetype> starts{0};
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (isLineTerminator(text[i])) {
            if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') {
                ++i;
            }
            starts.append(i + 1);
        }
    }
    return starts;
}

// "^[ \t]*(>[ \t]?)+", scanned by hand: the engine gives up on a line with
// tens of thousands of markers.
void appendQuoteMarkers(QList<RuleMatch> &out, QStringView text, const QList<qsizetype> &starts)
{
    const qsizetype n = text.size();
    for (const qsizetype start : starts) {
        qsizetype p = start;
        while (p < n && (text[p] == u' ' || text[p] == u'\t')) {
            ++p;
        }
        qsizetype groupStart = -1;
        while (p < n && text[p] == u'>') {
            groupStart = p++;
            if (p < n && (text[p] == u' ' || text[p] == u'\t')) {
                ++p;
            }
        }
        if (groupStart >= 0) {
            out.append({Style::Marker, {start, p - start}, {groupStart, p - groupStart}, kNoGroup});
        }
    }
}

// "^```[\s\S]*?^```[ \t]*$" with line anchors: from a line that starts with
// three backticks to the next line that is a closing fence. Unlike the
// renderer's classifier, a block is coloured only once its closing line is
// typed: colouring from an opener to the end of the text would repaint the
// whole document at every "```" typed on the way to a closed block. The
// rule's lines end at every Unicode line end, as the editor's blocks do.
void appendFencedBlocks(QList<RuleMatch> &out, QStringView text)
{
    struct Line
    {
        qsizetype start;
        qsizetype end; // where the line terminator starts
    };
    std::vector<Line> lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (!isLineTerminator(text[i].unicode())) {
            continue;
        }
        lines.push_back({start, i});
        if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') {
            ++i;
        }
        start = i + 1;
    }
    lines.push_back({start, n});

    const auto opens = [&](const Line &l) { return text.mid(l.start, l.end - l.start).startsWith(u"```"); };
    const auto closes = [&](const Line &l) {
        if (!opens(l)) {
            return false;
        }
        for (qsizetype p = l.start + 3; p < l.end; ++p) {
            if (text[p] != u' ' && text[p] != u'\t') {
                return false;
            }
        }
        return true;
    };
    const size_t count = lines.size();
    size_t closer = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!opens(lines[i])) {
            continue;
        }
        closer = std::max(closer, i + 1);
        while (closer < count && !closes(lines[closer])) {
            ++closer;
        }
        if (closer >= count) {
            return; // no closing line below: no later opener has one either
        }
        out.append(
            {Style::CodeBlock, {lines[i].start, lines[closer].end - lines[i].start}, kNoGroup, kNoGroup});
        i = closer;
    }
}

// Highlight pairs, except on setext underlines: "Title\n=====" is a heading,
// and its underline is never prose.
void appendHighlights(QList<RuleMatch> &out, QStringView text)
{
    const QList<Pair> pairs = findPairs(text, PairKind::Highlight);
    if (pairs.isEmpty()) {
        return;
    }
    QList<TextRange> underlines;
    for (const LineClassifier::TextLine &line : LineClassifier::classify(text)) {
        if (line.info.kind == LineClassifier::Kind::SetextUnderline) {
            underlines.append({line.start, line.length});
        }
    }
    qsizetype u = 0;
    for (const Pair &p : pairs) {
        while (u < underlines.size() && underlines[u].end() <= p.start) {
            ++u;
        }
        if (u < underlines.size() && underlines[u].location < p.end) {
            continue;
        }
        out.append(
            {Style::Highlight, {p.start, p.end - p.start}, {p.start, 2}, {p.start + 2, p.end - p.start - 4}});
    }
}

void appendPairs(QList<RuleMatch> &out, QStringView text, PairKind kind, Style style)
{
    for (const Pair &p : findPairs(text, kind)) {
        out.append({style, {p.start, p.end - p.start}, {p.start, 2}, {p.start + 2, p.end - p.start - 4}});
    }
}

// "!?\[([^\]\n]*)\]\(([^)\n]*)\)".
void appendLinks(QList<RuleMatch> &out, QStringView text)
{
    const qsizetype n = text.size();
    qsizetype bracketAt = -1;
    const auto closeBracket = [&](qsizetype from) {
        if (bracketAt < from) {
            bracketAt = from;
            while (bracketAt < n && text[bracketAt] != u']' && text[bracketAt] != u'\n') {
                ++bracketAt;
            }
        }
        return bracketAt;
    };
    qsizetype parenAt = -1;
    const auto closeParen = [&](qsizetype from) {
        if (parenAt < from) {
            parenAt = from;
            while (parenAt < n && text[parenAt] != u')' && text[parenAt] != u'\n') {
                ++parenAt;
            }
        }
        return parenAt;
    };
    for (qsizetype s = 0; s < n; ++s) {
        qsizetype open = s;
        if (text[s] == u'!' && s + 1 < n && text[s + 1] == u'[') {
            open = s + 1;
        } else if (text[s] != u'[') {
            continue;
        }
        const qsizetype k = closeBracket(open + 1);
        if (k + 1 >= n || text[k] != u']' || text[k + 1] != u'(') {
            continue;
        }
        const qsizetype m = closeParen(k + 2);
        if (m >= n || text[m] != u')') {
            continue;
        }
        out.append({Style::Link, {s, m + 1 - s}, {open + 1, k - open - 1}, {k + 2, m - k - 2}});
        s = m;
    }
}

// "<https?://[^>\s]+>|(?<![(\w])https?://[^\s<>)]+".
void appendUrls(QList<RuleMatch> &out, QStringView text)
{
    const qsizetype n = text.size();
    const auto schemeEnd = [&](qsizetype p) -> qsizetype {
        if (!text.mid(p).startsWith(u"http")) {
            return -1;
        }
        p += 4;
        if (p < n && text[p] == u's') {
            ++p;
        }
        return text.mid(p).startsWith(u"://") ? p + 3 : -1;
    };
    qsizetype angleStop = -1;
    const auto angleClose = [&](qsizetype from) {
        if (angleStop < from) {
            angleStop = from;
            while (angleStop < n && text[angleStop] != u'>' && !isWhiteSpace(text[angleStop].unicode())) {
                ++angleStop;
            }
        }
        return angleStop;
    };
    qsizetype s = 0;
    while (s < n) {
        const char16_t c = text[s].unicode();
        if (c == u'<') {
            const qsizetype u = schemeEnd(s + 1);
            if (u >= 0) {
                const qsizetype j = angleClose(u);
                if (j > u && j < n && text[j] == u'>') {
                    out.append({Style::Url, {s, j + 1 - s}, kNoGroup, kNoGroup});
                    s = j + 1;
                    continue;
                }
            }
        } else if (c == u'h' &&
                   (s == 0 || (text[s - 1] != u'(' && !isWordCharacter(codePointBefore(text, s))))) {
            const qsizetype u = schemeEnd(s);
            if (u >= 0) {
                qsizetype j = u;
                while (j < n && !isWhiteSpace(text[j].unicode()) && text[j] != u'<' && text[j] != u'>' &&
                       text[j] != u')') {
                    ++j;
                }
                if (j > u) {
                    out.append({Style::Url, {s, j - s}, kNoGroup, kNoGroup});
                    s = j;
                    continue;
                }
            }
        }
        ++s;
    }
}

struct Look
{
    std::vector<quint8> font;
    std::vector<quint8> foreground;
    std::vector<quint8> flags;

    explicit Look(qsizetype n) : font(size_t(n), 0), foreground(size_t(n), 0), flags(size_t(n), 0) {}

    void setFont(TextRange r, FontRole f) { fill(font, r, quint8(f)); }
    void setForeground(TextRange r, ColorRole c) { fill(foreground, r, quint8(c)); }
    void addFlag(TextRange r, quint8 flag)
    {
        if (r.length <= 0) {
            return;
        }
        for (qsizetype i = r.location; i < r.end(); ++i) {
            flags[size_t(i)] |= flag;
        }
    }

    static void fill(std::vector<quint8> &v, TextRange r, quint8 value)
    {
        if (r.length > 0) {
            std::fill(v.begin() + r.location, v.begin() + r.end(), value);
        }
    }
};

constexpr quint8 kOblique = 1;
constexpr quint8 kStrike = 2;
constexpr quint8 kHighlighted = 4;

void applyStyle(Look &look, const RuleMatch &m)
{
    const qsizetype p = m.range.location;
    const qsizetype n = m.range.length;
    switch (m.style) {
    case Style::Heading: {
        const qsizetype level = std::clamp<qsizetype>(m.group1.length, 1, 6);
        look.setFont(m.range, FontRole(quint8(FontRole::Heading1) + level - 1));
        look.setForeground(m.group1, ColorRole::Tertiary);
        break;
    }
    case Style::Marker:
        look.setForeground(m.range, ColorRole::Tertiary);
        break;
    case Style::Code:
    case Style::CodeBlock:
        look.setForeground(m.range, ColorRole::Secondary);
        break;
    case Style::Bold:
        look.setFont(m.range, FontRole::Bold);
        if (n >= 4) {
            look.setForeground({p, 2}, ColorRole::Tertiary);
            look.setForeground({p + n - 2, 2}, ColorRole::Tertiary);
        }
        break;
    case Style::Italic:
        look.addFlag(m.range, kOblique);
        if (n >= 2) {
            look.setForeground({p, 1}, ColorRole::Tertiary);
            look.setForeground({p + n - 1, 1}, ColorRole::Tertiary);
        }
        break;
    case Style::Strike:
        look.addFlag(m.range, kStrike);
        look.setForeground(m.range, ColorRole::Secondary);
        break;
    case Style::Highlight:
        look.addFlag(m.range, kHighlighted);
        if (n >= 4) {
            look.setForeground({p, 2}, ColorRole::Tertiary);
            look.setForeground({p + n - 2, 2}, ColorRole::Tertiary);
        }
        break;
    case Style::Link:
        look.setForeground(m.group1, ColorRole::Accent);
        look.setForeground(m.group2, ColorRole::Tertiary);
        break;
    case Style::Url:
        look.setForeground(m.range, ColorRole::Accent);
        break;
    }
}

} // namespace

QList<RuleMatch> matches(const QString &original)
{
    QList<RuleMatch> out;
    if (original.size() > maximumLength) {
        return out;
    }
    const QString text = withoutLoneSurrogates(original);
    // Unlike the renderer's passes, these rules colour what is typed rather
    // than what the parser will make of it: markers stay visible inside
    // blocks the parser would call code, and each rule runs over the whole
    // text on its own, later ones drawing over earlier ones. Only the setext
    // underline, which is never prose, is taken from the line classifier.
    appendRegexMatches(out, text, headingRule(), Style::Heading);
    appendQuoteMarkers(out, text, lineStarts(text));
    appendRegexMatches(out, text, listRule(), Style::Marker);
    appendRegexMatches(out, text, ruleRule(), Style::Marker);
    appendRegexMatches(out, text, inlineCodeRule(), Style::Code);
    appendFencedBlocks(out, text);
    appendPairs(out, text, PairKind::Bold, Style::Bold);
    appendRegexMatches(out, text, italicRule(), Style::Italic);
    appendPairs(out, text, PairKind::Strike, Style::Strike);
    appendHighlights(out, text);
    appendLinks(out, text);
    appendUrls(out, text);
    return out;
}

QList<HighlightSpan> spans(const QString &text)
{
    QList<HighlightSpan> out;
    if (text.size() > maximumLength || text.isEmpty()) {
        return out;
    }
    const QList<RuleMatch> found = matches(text);
    if (found.isEmpty()) {
        return out;
    }
    const qsizetype n = text.size();
    Look look(n);
    for (const RuleMatch &m : found) {
        applyStyle(look, m);
    }
    const auto styleAt = [&look](qsizetype i) {
        const quint8 flags = look.flags[size_t(i)];
        return CharStyle{FontRole(look.font[size_t(i)]), ColorRole(look.foreground[size_t(i)]),
                         (flags & kOblique) != 0, (flags & kStrike) != 0, (flags & kHighlighted) != 0};
    };
    qsizetype i = 0;
    while (i < n) {
        const CharStyle style = styleAt(i);
        qsizetype j = i + 1;
        while (j < n && look.font[size_t(j)] == look.font[size_t(i)] &&
               look.foreground[size_t(j)] == look.foreground[size_t(i)] &&
               look.flags[size_t(j)] == look.flags[size_t(i)]) {
            ++j;
        }
        if (!style.isBase()) {
            out.append({{i, j - i}, style});
        }
        i = j;
    }
    return out;
}

qreal pointSize(FontRole font)
{
    if (font == FontRole::Base || font == FontRole::Bold) {
        return basePointSize;
    }
    return headingPointSizes[quint8(font) - quint8(FontRole::Heading1)];
}

bool isSemibold(FontRole font)
{
    return font != FontRole::Base;
}

} // namespace MarkdownHighlighterRules
