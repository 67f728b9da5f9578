#pragma once

#include "editor/core/MarkdownHighlighterRules.h"

#include <QFont>
#include <QTextBlock>
#include <QTextCharFormat>

class ListContinuingTextView;
class QPalette;

// Puts the Markdown colouring on the editor's display. The runs come from
// MarkdownHighlighterRules; they are laid on each line as display formats,
// which are not part of the text: highlighting never adds an undo step and
// never marks the document modified.
namespace SyntaxHighlighter {

// The editor's monospaced fonts. Sizes follow the look's points (72 per
// inch), scaled to this desktop's points (96 per inch by convention).
QFont font(MarkdownHighlighterRules::FontRole role);
inline QFont baseFont()
{
    return font(MarkdownHighlighterRules::FontRole::Base);
}

// The display format of one look, with the colours of `palette`.
QTextCharFormat format(const MarkdownHighlighterRules::CharStyle &style, const QPalette &palette);

// Re-colours the whole text of `view` now. Lines whose colouring did not
// change are left alone, so a pass after one keystroke lays out one line.
// Returns whether any line carries colours afterwards.
bool highlight(ListContinuingTextView *view);

// After an edit of `removed` units replaced by `added` at `position` (display
// positions) inside `block`, moves that line's formats with its characters,
// so that colours stay in place until the next pass.
void shiftFormats(const QTextBlock &block, int position, int removed, int added);

} // namespace SyntaxHighlighter
