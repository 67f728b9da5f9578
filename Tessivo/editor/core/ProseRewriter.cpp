#include "editor/core/ProseRewriter.h"

#include "editor/core/MarkdownScan.h"

#include <QChar>

using namespace MarkdownScan;

namespace ProseRewriter {

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

} // namespace

qsizetype indentWidth(QStringView s)
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

qsizetype quotePrefixLength(QStringView line)
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

Fence matchFence(QStringView line)
{
    const qsizetype n = line.size();
    qsizetype p = quotePrefixLength(line);
    while (p < n && isSpaceOrTabUnit(line[p])) {
        ++p;
    }
    if (p >= n || (line[p] != u'`' && line[p] != u'~')) {
        return {};
    }
    const char16_t c = line[p].unicode();
    qsizetype q = p;
    while (q < n && line[q] == c) {
        ++q;
    }
    if (q - p < 3) {
        return {};
    }
    QStringView rest = line.mid(q);
    // "(.*)$" without multiline: the rest may end in one line terminator (CR
    // LF counting as one) but holds none elsewhere.
    if (rest.endsWith(u"\r\n")) {
        rest.chop(2);
    } else if (!rest.isEmpty() && isLineTerminator(rest.back().unicode())) {
        rest.chop(1);
    }
    for (const QChar ch : rest) {
        if (isLineTerminator(ch.unicode())) {
            return {};
        }
    }
    return {c, q - p, rest};
}

qsizetype listItemContentStart(QStringView line)
{
    const qsizetype n = line.size();
    qsizetype p = quotePrefixLength(line);
    while (p < n && line[p] == u' ') {
        ++p;
    }
    if (p >= n) {
        return -1;
    }
    if (line[p] == u'-' || line[p] == u'*' || line[p] == u'+') {
        ++p;
    } else {
        int digits = 0;
        while (p < n && digits < 9) {
            const char32_t cp = codePointAt(line, p);
            if (QChar::category(cp) != QChar::Number_DecimalDigit) {
                break;
            }
            p += QChar::requiresSurrogates(cp) ? 2 : 1;
            ++digits;
        }
        if (digits == 0 || p >= n || (line[p] != u'.' && line[p] != u')')) {
            return -1;
        }
        ++p;
    }
    const qsizetype spacesStart = p;
    while (p < n && line[p] == u' ') {
        ++p;
    }
    if (p == spacesStart || p >= n || isWhiteSpace(line[p].unicode())) {
        return -1;
    }
    return p;
}

QList<TextRange> codeSpanRanges(QStringView line)
{
    QList<TextRange> ranges;
    qsizetype i = line.indexOf(u'`');
    if (i < 0) {
        return ranges;
    }
    const BacktickRuns runs(line);
    const qsizetype n = line.size();
    while (i >= 0 && i < n) {
        qsizetype runEnd = i;
        while (runEnd < n && line[runEnd] == u'`') {
            ++runEnd;
        }
        if (runEnd == n) {
            break;
        }
        const qsizetype close = runs.next(runEnd - i, runEnd);
        if (close >= 0) {
            const qsizetype end = close + (runEnd - i);
            ranges.append({i, end - i});
            i = line.indexOf(u'`', end);
        } else {
            i = line.indexOf(u'`', runEnd);
        }
    }
    return ranges;
}

QString rewrite(const QString &text, QStringView trigger,
                const std::function<QString(const QString &)> &transform)
{
    if (!text.contains(trigger)) {
        return text;
    }
    const QStringView all(text);
    QString out;
    out.reserve(text.size() + text.size() / 8);

    Fence open; // length 0: no fenced block open
    bool afterBlank = true;
    bool indentedCode = false;
    qsizetype listContent = 0; // L
    qsizetype listBase = 0;    // B

    qsizetype lineStart = 0;
    for (;;) {
        qsizetype lineEnd = all.indexOf(u'\n', lineStart);
        const bool last = lineEnd < 0;
        if (last) {
            lineEnd = all.size();
        }
        const QStringView full = all.mid(lineStart, lineEnd - lineStart);
        // A CR before the LF belongs to the line break, not to the line.
        const QStringView line = full.endsWith(u'\r') ? full.chopped(1) : full;
        bool prose = false;

        const Fence fence = matchFence(line);
        if (open.length > 0) {
            if (fence.length >= open.length && fence.character == open.character && isBlank(fence.rest)) {
                open = {};
            }
        } else if (fence.length > 0 && !(fence.character == u'`' && fence.rest.contains(u'`'))) {
            open = fence;
            indentedCode = false;
        } else {
            const qsizetype q = quotePrefixLength(line);
            const QStringView content = line.mid(q);
            if (isBlank(content)) {
                afterBlank = true;
            } else {
                const qsizetype indent = indentWidth(content);
                const qsizetype item = listItemContentStart(line);
                if (item >= 0) {
                    if (indentedCode && indent >= listBase + 4) {
                        listContent = listBase;
                    } else {
                        listContent = listBase = item - q;
                        indentedCode = false;
                        prose = true;
                    }
                } else if ((indentedCode || afterBlank) && indent >= listContent + 4) {
                    indentedCode = true;
                } else {
                    if (indent < listContent) {
                        listContent = listBase = 0;
                    }
                    indentedCode = false;
                    prose = true;
                }
                afterBlank = false;
            }
        }

        if (prose && line.contains(trigger)) {
            out.append(transform(line.toString()));
            out.append(full.mid(line.size()));
        } else {
            out.append(full);
        }
        if (last) {
            break;
        }
        out.append(u'\n');
        lineStart = lineEnd + 1;
    }
    return out;
}

} // namespace ProseRewriter
