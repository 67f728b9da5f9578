#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <functional>

#include "editor/core/LineClassifier.h"
#include "store/TextRange.h"

// Applies an inline rewrite (wiki links, highlights) to the prose lines of a
// Markdown text only: code (fenced, indented, inline spans even when they run
// over several lines), HTML tags and comments, link destinations and setext
// underlines are kept as written, whatever they contain. Line structure is
// kept exactly; lines are cut at LF and a CR before the LF stays in place.
namespace ProseRewriter {

// A rewrite of one line; `verbatim` lists the ranges of the line (UTF-16,
// relative to the line) that it must leave alone.
using Transform = std::function<QString(const QString &line, const QList<TextRange> &verbatim)>;

// Applies `transform` to every prose line that contains `trigger`. A text
// without `trigger` is returned unchanged.
QString rewrite(const QString &text, QStringView trigger, const Transform &transform);
// The same for the lines that contain any of `triggers`.
QString rewrite(const QString &text, const QList<QStringView> &triggers, const Transform &transform);

// A rewrite of one line that appends its result to `out`.
using AppendingTransform =
    std::function<void(QString &out, QStringView line, const QList<TextRange> &verbatim)>;

// rewrite() for a text whose `lines` are known (LineClassifier::classify of
// `text`, or lines with the same structure), with an appending transform:
// the passes of one render share one classification and copy no line.
QString rewrite(const QString &text, const QList<LineClassifier::TextLine> &lines,
                const QList<QStringView> &triggers, const AppendingTransform &transform);

// UTF-16 ranges of the inline code spans of one line.
QList<TextRange> codeSpanRanges(QStringView line);

} // namespace ProseRewriter
