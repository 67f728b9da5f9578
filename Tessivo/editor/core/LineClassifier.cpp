#include "editor/core/LineClassifier.h"

#include "editor/core/MarkdownScan.h"

#include <optional>

using MarkdownScan::BacktickRuns;

namespace {

bool isSpaceOrTabUnit(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isBlank(QStringView s)
{
    for (const QChar c : s) {
        if (!isSpaceOrTabUnit(c)) {
            return false;
        }
    }
    return true;
}

// Up to three spaces, then the rest.
QStringView afterSmallIndent(QStringView s)
{
    qsizetype p = 0;
    while (p < s.size() && p < 3 && s[p] == u' ') {
        ++p;
    }
    return s.mid(p);
}

bool isAtxHeading(QStringView content)
{
    const QStringView s = afterSmallIndent(content);
    qsizetype p = 0;
    while (p < s.size() && s[p] == u'#') {
        ++p;
    }
    return p >= 1 && p <= 6 && (p == s.size() || isSpaceOrTabUnit(s[p]));
}

// A run of `marker` and nothing else but trailing spaces and tabs.
bool isUnderline(QStringView content, char16_t marker)
{
    const QStringView s = afterSmallIndent(content);
    qsizetype p = 0;
    while (p < s.size() && s[p] == marker) {
        ++p;
    }
    return p > 0 && isBlank(s.mid(p));
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isTagWhiteSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

// The end of the HTML comment or tag that starts at `i` ("<"), or -1. Tags
// follow CommonMark's raw HTML: a name, attributes with optional values,
// optional "/", then ">". `commentClose` remembers the last "-->" found
// (-1: none up to `end`), so that a flood of "<!--" costs linear time.
qsizetype htmlEnd(QStringView text, qsizetype i, qsizetype end, qsizetype &commentClose)
{
    const QStringView rest = text.mid(i, end - i);
    if (rest.startsWith(u"<!--")) {
        if (commentClose != -1 && commentClose < i + 4) {
            commentClose = text.mid(0, end).indexOf(u"-->", i + 4);
        }
        return commentClose < 0 ? -1 : commentClose + 3;
    }
    qsizetype p = i + 1;
    const bool closing = p < end && text[p] == u'/';
    p += closing ? 1 : 0;
    if (p >= end || !isAsciiLetter(text[p])) {
        return -1;
    }
    while (p < end && (isAsciiLetter(text[p]) || text[p].isDigit() || text[p] == u'-')) {
        ++p;
    }
    const auto skipSpace = [&] {
        const qsizetype from = p;
        while (p < end && isTagWhiteSpace(text[p])) {
            ++p;
        }
        return p > from;
    };
    if (closing) {
        skipSpace();
        return p < end && text[p] == u'>' ? p + 1 : -1;
    }
    for (;;) {
        const bool spaced = skipSpace();
        if (p < end && text[p] == u'>') {
            return p + 1;
        }
        if (p + 1 < end && text[p] == u'/' && text[p + 1] == u'>') {
            return p + 2;
        }
        if (!spaced || p >= end || !(isAsciiLetter(text[p]) || text[p] == u'_' || text[p] == u':')) {
            return -1;
        }
        while (p < end && (isAsciiLetter(text[p]) || text[p].isDigit() || text[p] == u'_' ||
                           text[p] == u'.' || text[p] == u':' || text[p] == u'-')) {
            ++p;
        }
        const qsizetype afterName = p;
        skipSpace();
        if (p >= end || text[p] != u'=') {
            p = afterName;
            continue;
        }
        ++p;
        skipSpace();
        if (p >= end) {
            return -1;
        }
        if (text[p] == u'"' || text[p] == u'\'') {
            const qsizetype close = text.mid(p + 1, end - p - 1).indexOf(text[p]);
            if (close < 0) {
                return -1;
            }
            p += close + 2;
        } else {
            const qsizetype from = p;
            while (p < end && !isTagWhiteSpace(text[p]) && text[p] != u'"' && text[p] != u'\'' &&
                   text[p] != u'=' && text[p] != u'<' && text[p] != u'>' && text[p] != u'`') {
                ++p;
            }
            if (p == from) {
                return -1;
            }
        }
    }
}

// The link destination that starts at `p` (just after "]("): its range, empty
// when there is none.
TextRange destinationAt(QStringView text, qsizetype p, qsizetype end)
{
    while (p < end && isSpaceOrTabUnit(text[p])) {
        ++p;
    }
    const qsizetype start = p;
    if (p < end && text[p] == u'<') {
        while (++p < end && text[p] != u'>' && text[p] != u'<' && text[p] != u'\n') {
            if (text[p] == u'\\') {
                ++p;
            }
        }
        return p < end && text[p] == u'>' ? TextRange{start, p + 1 - start} : TextRange{start, 0};
    }
    int depth = 0;
    while (p < end) {
        const QChar c = text[p];
        if (c == u'\\' && p + 1 < end) {
            p += 2;
            continue;
        }
        if (c.unicode() <= 0x20) {
            break;
        }
        if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            if (depth == 0) {
                break;
            }
            --depth;
        }
        ++p;
    }
    return {start, std::min(p, end) - start};
}

void appendVerbatimRanges(QList<TextRange> &out, QStringView text, qsizetype start, qsizetype end)
{
    const QStringView block = text.mid(start, end - start);
    const bool hasBackticks = block.contains(u'`');
    if (!hasBackticks && !block.contains(u'<') && MarkdownScan::indexOfPair(block, u']', u'(') < 0) {
        return;
    }
    std::optional<BacktickRuns> runs;
    qsizetype commentClose = -2; // not looked for yet
    // Only four characters start anything; the rest is passed over in a
    // tight loop.
    const char16_t *units = text.utf16();
    const auto ordinary = [](char16_t u) {
        return u > u'`' || (u != u'\\' && u != u'`' && u != u'<' && u != u']');
    };
    qsizetype i = start;
    while (i < end) {
        if (ordinary(units[i])) {
            ++i;
            while (i < end && ordinary(units[i])) {
                ++i;
            }
            continue;
        }
        const QChar c = text[i];
        if (c == u'\\') {
            i += 2;
            continue;
        }
        if (c == u'`') {
            qsizetype runEnd = i;
            while (runEnd < end && text[runEnd] == u'`') {
                ++runEnd;
            }
            if (!runs) {
                runs.emplace(block);
            }
            const qsizetype close = runs->next(runEnd - i, runEnd - start);
            if (close >= 0) {
                const qsizetype closeEnd = start + close + (runEnd - i);
                out.append({i, closeEnd - i});
                i = closeEnd;
            } else {
                i = runEnd;
            }
            continue;
        }
        if (c == u'<') {
            const qsizetype e = htmlEnd(text, i, end, commentClose);
            if (e > 0) {
                out.append({i, e - i});
                i = e;
                continue;
            }
        } else if (c == u']' && i + 1 < end && text[i + 1] == u'(') {
            const TextRange d = destinationAt(text, i + 2, end);
            if (d.length > 0) {
                out.append(d);
                i = d.end();
                continue;
            }
        }
        ++i;
    }
}

} // namespace

qsizetype LineClassifier::indentWidth(QStringView s)
{
    qsizetype width = 0;
    for (const QChar c : s) {
        if (c == u' ') {
            ++width;
        } else if (c == u'\t') {
            width = (width / 4 + 1) * 4;
        } else {
            break;
        }
    }
    return width;
}

qsizetype LineClassifier::quotePrefixLength(QStringView line)
{
    const qsizetype n = line.size();
    qsizetype end = 0;
    for (;;) {
        qsizetype p = end;
        while (p < n && p - end < 3 && line[p] == u' ') {
            ++p;
        }
        if (p >= n || line[p] != u'>') {
            return end;
        }
        ++p;
        if (p < n && line[p] == u' ') {
            ++p;
        }
        end = p;
    }
}

LineClassifier::Fence LineClassifier::fenceAt(QStringView s, qsizetype maxIndent)
{
    const qsizetype n = s.size();
    qsizetype p = 0;
    while (p < n && isSpaceOrTabUnit(s[p])) {
        ++p;
    }
    if (p >= n || (s[p] != u'`' && s[p] != u'~') || indentWidth(s) > maxIndent) {
        return {};
    }
    const char16_t c = s[p].unicode();
    qsizetype q = p;
    while (q < n && s[q] == c) {
        ++q;
    }
    if (q - p < 3) {
        return {};
    }
    const QStringView rest = s.mid(q);
    for (const QChar ch : rest) {
        if (MarkdownScan::isLineTerminator(ch.unicode())) {
            return {};
        }
    }
    return {c, q - p, rest};
}

LineClassifier::ListItem LineClassifier::listItemAt(QStringView content)
{
    const qsizetype n = content.size();
    qsizetype p = 0;
    while (p < n && content[p] == u' ') {
        ++p;
    }
    if (p >= n) {
        return {};
    }
    if (content[p] == u'-' || content[p] == u'*' || content[p] == u'+') {
        ++p;
    } else {
        int digits = 0;
        while (p < n && digits < 9) {
            const char32_t cp = MarkdownScan::codePointAt(content, p);
            if (QChar::category(cp) != QChar::Number_DecimalDigit) {
                break;
            }
            p += QChar::requiresSurrogates(cp) ? 2 : 1;
            ++digits;
        }
        if (digits == 0 || p >= n || (content[p] != u'.' && content[p] != u')')) {
            return {};
        }
        ++p;
    }
    const qsizetype markerEnd = p;
    qsizetype column = markerEnd;
    while (p < n && isSpaceOrTabUnit(content[p])) {
        column = content[p] == u'\t' ? (column / 4 + 1) * 4 : column + 1;
        ++p;
    }
    if (p == markerEnd || p >= n || MarkdownScan::isWhiteSpace(content[p].unicode())) {
        return {};
    }
    // Five or more columns after the marker: the item's text is one column
    // in, and the rest is indented code.
    if (column - markerEnd >= 5) {
        return {markerEnd + 1, markerEnd + 1, true};
    }
    return {p, column, false};
}

LineClassifier::Line LineClassifier::next(QStringView line)
{
    const qsizetype q = quotePrefixLength(line);
    qsizetype depth = 0;
    for (qsizetype i = 0; i < q; ++i) {
        depth += line[i] == u'>' ? 1 : 0;
    }
    const QStringView content = line.mid(q);
    const bool blank = isBlank(content);
    Line result;
    result.quotePrefix = q;
    result.contentStart = q;

    if (m_fence.length > 0) {
        // Fenced code takes no lazy lines: a line outside its blockquote or
        // list item ends it.
        if (depth >= m_fenceDepth && (blank || indentWidth(content) >= m_fenceColumn)) {
            // Four columns in from its container, a fence is code text.
            const Fence fence = fenceAt(content, m_fenceColumn + 3);
            if (fence.length >= m_fence.length && fence.character == m_fence.character &&
                isBlank(fence.rest)) {
                m_fence = {};
                result.kind = Kind::FenceClose;
            } else {
                result.kind = Kind::FenceBody;
            }
            return result;
        }
        m_fence = {};
    }
    if (m_htmlComment) {
        m_htmlComment = !content.contains(u"-->");
        result.kind = Kind::HtmlComment;
        return result;
    }
    if (blank) {
        m_paragraph = false;
        result.kind = Kind::Blank;
        return result;
    }
    return classifyOpenBlock(line, q, content);
}

LineClassifier::Line LineClassifier::classifyOpenBlock(QStringView line, qsizetype q, QStringView content)
{
    Line result;
    result.quotePrefix = q;
    result.contentStart = q;
    qsizetype depth = 0;
    for (qsizetype i = 0; i < q; ++i) {
        depth += line[i] == u'>' ? 1 : 0;
    }
    const qsizetype indent = indentWidth(content);
    const ListItem item = listItemAt(content);
    const auto openFence = [&](const Fence &fence, qsizetype column) {
        m_fence = fence;
        m_fenceDepth = depth;
        m_fenceColumn = column;
        m_indentedCode = false;
        m_paragraph = false;
        result.kind = Kind::FenceOpen;
        return result;
    };
    const auto isOpener = [](const Fence &f) {
        return f.length > 0 && !(f.character == u'`' && f.rest.contains(u'`'));
    };

    if (item.contentOffset >= 0 && !(m_indentedCode && indent >= m_listBase + 4)) {
        m_listContent = m_listBase = item.contentColumn;
        if (item.codeContent) {
            m_indentedCode = true;
            m_paragraph = false;
            result.kind = Kind::IndentedCode;
            return result;
        }
        m_indentedCode = false;
        const QStringView text = content.mid(item.contentOffset);
        if (const Fence fence = fenceAt(text, 3); isOpener(fence)) {
            return openFence(fence, item.contentColumn);
        }
        const bool heading = isAtxHeading(text);
        m_paragraph = !heading;
        result.kind = Kind::Prose;
        result.contentStart = q + item.contentOffset;
        return result;
    }
    if ((m_indentedCode || !m_paragraph) && indent >= m_listContent + 4) {
        m_indentedCode = true;
        result.kind = Kind::IndentedCode;
        return result;
    }
    const qsizetype container = indent >= m_listContent ? m_listContent : 0;
    if (const Fence fence = fenceAt(content, container + 3); isOpener(fence)) {
        if (indent < m_listContent) {
            m_listContent = m_listBase = 0;
        }
        return openFence(fence, container);
    }
    if (afterSmallIndent(content).startsWith(u"<!--")) {
        const qsizetype open = content.indexOf(u"<!--");
        m_htmlComment = content.indexOf(u"-->", open + 4) < 0;
        m_paragraph = false;
        m_indentedCode = false;
        result.kind = Kind::HtmlComment;
        return result;
    }
    if (isUnderline(content, u'=') || (m_paragraph && isUnderline(content, u'-'))) {
        m_paragraph = false;
        m_indentedCode = false;
        result.kind = Kind::SetextUnderline;
        return result;
    }
    if (indent < m_listContent) {
        m_listContent = m_listBase = 0;
    }
    m_indentedCode = false;
    const bool heading = isAtxHeading(content);
    result.startsBlock = !m_paragraph || heading;
    m_paragraph = !heading;
    result.kind = Kind::Prose;
    return result;
}

QList<LineClassifier::TextLine> LineClassifier::classify(QStringView text)
{
    return classify(text, {}, nullptr);
}

QList<LineClassifier::TextLine> LineClassifier::classify(QStringView text, QStringView marker,
                                                         QList<Snapshot> *snapshots)
{
    QList<TextLine> lines;
    // Enough for lines of sixteen characters on average, so that a text
    // seldom makes the list grow and copy; the pages of a large reservation
    // that are never written take no memory.
    lines.reserve(text.size() / 16 + 1);
    LineClassifier classifier;
    const auto findMarker = [text, marker](qsizetype from) {
        return marker.size() == 2
                   ? MarkdownScan::indexOfPair(text, marker[0].unicode(), marker[1].unicode(), from)
                   : text.indexOf(marker, from);
    };
    qsizetype nextMarker = snapshots && !marker.isEmpty() ? findMarker(0) : -1;
    qsizetype start = 0;
    for (;;) {
        qsizetype end = text.indexOf(u'\n', start);
        const bool last = end < 0;
        if (last) {
            end = text.size();
        }
        QStringView line = text.mid(start, end - start);
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
        if (nextMarker >= 0 && nextMarker < end) {
            Snapshot snapshot{lines.size(), classifier, {}};
            lines.append({start, line.size(), classifier.next(line)});
            snapshot.after = classifier;
            snapshots->append(std::move(snapshot));
            nextMarker = findMarker(end);
        } else {
            lines.append({start, line.size(), classifier.next(line)});
        }
        if (last) {
            return lines;
        }
        start = end + 1;
    }
}

bool LineClassifier::sameState(const LineClassifier &other) const
{
    // The fence's info string matters only on its own line.
    return m_fence.character == other.m_fence.character && m_fence.length == other.m_fence.length &&
           m_fenceDepth == other.m_fenceDepth && m_fenceColumn == other.m_fenceColumn &&
           m_htmlComment == other.m_htmlComment && m_paragraph == other.m_paragraph &&
           m_indentedCode == other.m_indentedCode && m_listContent == other.m_listContent &&
           m_listBase == other.m_listBase;
}

QList<TextRange> LineClassifier::verbatimRangesIn(QStringView text, qsizetype start, qsizetype end)
{
    QList<TextRange> out;
    appendVerbatimRanges(out, text, start, end);
    return out;
}
