#pragma once

#include "editor/core/LineClassifier.h"
#include "store/TextRange.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// Which words of a Markdown text the spelling checker looks at: prose only.
// Code (inline spans, fenced and indented blocks), addresses, link destinations, HTML
// tags and the keys of the front matter are never checked. Pure.
namespace SpellScope {

// Where a line stands; carried from one line to the next, from the top.
struct Context
{
    enum class Block { Prose, FrontMatter };
    Block block = Block::Prose;
    qsizetype line = 0;        // index of the next line
    LineClassifier classifier; // where code is, below the front matter
};

// The words of `line` (no line break) to check, relative to the line start;
// advances `context` past the line.
QList<TextRange> wordsToCheck(QStringView line, Context &context);

// Advances `context` past `line` without looking for words (for the lines
// above the part of the text being checked).
void skipLine(QStringView line, Context &context);

// Every word of `text`: runs of letters, with inner apostrophes, not touching
// a digit or an underscore, at least two letters long.
QList<TextRange> words(QStringView text);

// The word of `line` at `position` (inside it or at its end), if any.
std::optional<TextRange> wordAt(QStringView line, qsizetype position);

} // namespace SpellScope
