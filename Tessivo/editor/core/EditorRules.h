#pragma once

#include "store/TextRange.h"

#include <QRect>
#include <QString>
#include <QVariant>

#include <optional>

// The editor's decisions that need no window: what Return does on a list
// line, when wiki-link completion is active, where the completion panel goes,
// which selection the AI tools may rewrite. All positions are UTF-16 offsets.
namespace EditorRules {

// ----- List continuation --------------------------------------------------

struct ReturnAction
{
    enum class Kind {
        PlainNewline, // an ordinary line break
        EndList,      // remove `removal` (the marker) and insert nothing
        Continue,     // insert `insertion` at the caret
    };
    Kind kind = Kind::PlainNewline;
    TextRange removal; // relative to the line start
    QString insertion; // "\n" + indentation + marker + " " (+ "[ ] ")

    friend bool operator==(const ReturnAction &, const ReturnAction &) = default;
};

// What Return does with an empty selection at `caretInLine` of `line` (the
// caret's line, trailing line breaks removed).
ReturnAction returnAction(const QString &line, qsizetype caretInLine);

// The marker that follows `marker` ("-", "*", "+", "7." or "7)") on the next
// item: numbers count up by one; a number that does not fit 64 bits, or whose
// successor would not, is repeated unchanged.
QString nextMarker(const QString &marker);

// ----- Wiki-link completion ------------------------------------------------

// The query of an unclosed "[[" at the end of `linePrefix` (the text from the
// line start to the caret), relative to the line start; nothing when the
// prefix does not end in an open wiki link.
std::optional<TextRange> wikiLinkQuery(const QString &linePrefix);

// The completion panel's frame (screen coordinates, y growing downwards): 320
// wide, 12 + 30 per row (at most 8 rows) high, hanging 4 below the caret line
// with its left edge 8 left of the caret, above the line when it would leave
// the visible screen area at the bottom, and shifted to stay within that
// area horizontally. `available`: the screen's available area, or nothing.
QRect suggestionPanelFrame(const QRect &anchor, qsizetype itemCount, const std::optional<QRect> &available);
inline constexpr int suggestionPanelWidth = 320;
inline constexpr int suggestionRowHeight = 30;
inline constexpr int suggestionVisibleRows = 8;
inline constexpr int maximumSuggestions = 20;

// ----- AI tools -------------------------------------------------------------

// A selection the AI may rewrite: at least one character, within the text,
// containing something other than white space and line breaks.
bool isRefinable(const QString &text, TextRange selection);

// True when the line holding `position` has nothing but white space.
bool isBlankLine(const QString &text, qsizetype position);

enum class AIMode { Refine, Generate, Auto };

// The mode asked for by the user info of "zv.aiAssist" (AppNotifications'
// refineMode or generateMode); any other value, a value that is not a
// string, or none: auto.
AIMode aiModeFromUserInfo(const QVariantMap &userInfo);

// The range of the line (with its line break) that holds `position`.
TextRange lineRange(const QString &text, qsizetype position);

} // namespace EditorRules
