#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <functional>

#include "store/TextRange.h"

// Applies an inline rewrite (wiki links, highlights) to the prose lines of a
// Markdown text only: lines inside fenced code blocks and indented code
// blocks are kept as written, whatever they contain. Line structure is kept
// exactly; lines are cut at LF and a CR before the LF stays in place.
namespace ProseRewriter {

// Applies `transform` to every prose line that contains `trigger`. A text
// without `trigger` is returned unchanged.
QString rewrite(const QString &text, QStringView trigger,
                const std::function<QString(const QString &)> &transform);

// UTF-16 ranges of the inline code spans of one line.
QList<TextRange> codeSpanRanges(QStringView line);

// Width of the leading spaces and tabs: a space counts 1, a tab advances to
// the next multiple of 4.
qsizetype indentWidth(QStringView s);

// Length of the leading blockquote markers ("(?: {0,3}> ?)*").
qsizetype quotePrefixLength(QStringView line);

// A fence line: optional blockquote markers, any spaces or tabs, then at least
// three backticks or tildes. `rest` is what follows the marker.
struct Fence
{
    char16_t character = 0;
    qsizetype length = 0; // 0: not a fence line
    QStringView rest;
};
Fence matchFence(QStringView line);

// A list item line: blockquote markers, spaces, "-", "*", "+" or 1 to 9 digits
// and "." or ")", one or more spaces, then a non-space. Returns the offset
// where the item's text begins, or -1.
qsizetype listItemContentStart(QStringView line);

} // namespace ProseRewriter
