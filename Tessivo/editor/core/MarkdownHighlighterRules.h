#pragma once

#include <QList>
#include <QString>

#include "store/TextRange.h"

// The editor's Markdown colouring, computed without any widget: twelve fixed
// rules, each matched independently over the whole text, later rules
// overriding the attributes that earlier ones set. The editor maps the
// resulting runs onto its own character formats.
//
// Everything here is pure and thread-safe.
namespace MarkdownHighlighterRules {

// Texts longer than this (UTF-16 units) get the base look only; a text of
// exactly this length is still coloured.
inline constexpr qsizetype maximumLength = 200000;

// What a rule found, in rule order.
enum class Style : quint8 { Heading, Marker, Code, CodeBlock, Bold, Italic, Strike, Highlight, Link, Url };

// Fonts: the base font is the monospaced system font, 14 pt regular; the bold
// font 14 pt semibold; heading fonts semibold at the sizes of headingPointSizes.
enum class FontRole : quint8 { Base, Bold, Heading1, Heading2, Heading3, Heading4, Heading5, Heading6 };

// Foreground colours: Text is the normal text colour, the others are the
// platform's secondary and tertiary label colours and its accent colour, read
// afresh at every pass so that they follow the appearance.
enum class ColorRole : quint8 { Text, Secondary, Tertiary, Accent };

// The look of one run of text. A default-constructed style is the base look.
struct CharStyle
{
    FontRole font = FontRole::Base;
    ColorRole foreground = ColorRole::Text;
    bool oblique = false;       // slanted by `obliqueness`
    bool strikethrough = false; // single line
    bool highlighted = false;   // background := the highlight colour

    bool isBase() const { return *this == CharStyle{}; }
    friend bool operator==(const CharStyle &, const CharStyle &) = default;
};

// One run of text with a look other than the base look.
struct HighlightSpan
{
    TextRange range;
    CharStyle style;

    friend bool operator==(const HighlightSpan &, const HighlightSpan &) = default;
};

// One match of one rule. group1/group2 are the capture groups the style uses
// (heading: the hashes; link: the text and the destination); length -1 when
// the group did not take part.
struct RuleMatch
{
    Style style = Style::Heading;
    TextRange range;
    TextRange group1{0, -1};
    TextRange group2{0, -1};
};

// The final look of `text`: non-overlapping runs in ascending order, covering
// only the parts whose look differs from the base look. Empty when the text is
// longer than maximumLength.
QList<HighlightSpan> spans(const QString &text);

// Every rule's matches, rules in table order, matches in text order. Empty when
// the text is longer than maximumLength.
QList<RuleMatch> matches(const QString &text);

// Look data the editor turns into fonts and colours.
inline constexpr qreal basePointSize = 14;
inline constexpr qreal headingPointSizes[6] = {26, 21, 18, 16, 14, 14};
inline constexpr qreal lineSpacing = 4;      // base paragraph style
inline constexpr qreal paragraphSpacing = 0; // base paragraph style
inline constexpr qreal obliqueness = 0.12;
// The highlight background: the system yellow at this alpha. The light and
// dark variants of the system yellow are given as 8-bit sRGB.
inline constexpr int highlightRgbLight[3] = {255, 204, 0};
inline constexpr int highlightRgbDark[3] = {255, 214, 10};
inline constexpr qreal highlightAlpha = 0.32;

// Point size and weight of a font role.
qreal pointSize(FontRole font);
bool isSemibold(FontRole font);

} // namespace MarkdownHighlighterRules
