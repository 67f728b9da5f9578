#include "editor/SyntaxHighlighter.h"

#include "editor/ListContinuingTextView.h"
#include "widgets/WidgetStyle.h"

#include <QFontDatabase>
#include <QHash>
#include <QPalette>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

namespace SyntaxHighlighter {

namespace Rules = MarkdownHighlighterRules;

namespace {

// The look's sizes are points of 1/72 inch on a 1:1 display; this desktop's
// points are 1/96 inch on the same display.
constexpr qreal pointScale = 0.75;

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Base).lightness() < 128;
}

QColor withAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(float(alpha));
    return colour;
}

QColor foreground(Rules::ColorRole role, const QPalette &palette)
{
    const QColor text = palette.color(QPalette::Text);
    const bool dark = isDark(palette);
    switch (role) {
    case Rules::ColorRole::Text:
        return text;
    case Rules::ColorRole::Secondary:
        return withAlpha(text, dark ? 0.55 : 0.5);
    case Rules::ColorRole::Tertiary:
        return withAlpha(text, dark ? 0.25 : 0.26);
    case Rules::ColorRole::Accent:
        // Links: the accent, kept readable on the editor's background.
        return WidgetStyle::textAccent(palette);
    }
    return text;
}

int styleKey(const Rules::CharStyle &style)
{
    return int(style.font) | int(style.foreground) << 4 | int(style.oblique) << 8 |
           int(style.strikethrough) << 9 | int(style.highlighted) << 10;
}

} // namespace

QFont font(Rules::FontRole role)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setStyleHint(QFont::Monospace);
    f.setPointSizeF(Rules::pointSize(role) * pointScale);
    f.setWeight(Rules::isSemibold(role) ? QFont::DemiBold : QFont::Normal);
    return f;
}

QTextCharFormat format(const Rules::CharStyle &style, const QPalette &palette)
{
    QTextCharFormat f;
    if (style.font != Rules::FontRole::Base) {
        const QFont roleFont = font(style.font);
        f.setFontPointSize(roleFont.pointSizeF());
        f.setFontWeight(roleFont.weight());
    }
    if (style.foreground != Rules::ColorRole::Text) {
        f.setForeground(foreground(style.foreground, palette));
    }
    if (style.oblique) {
        f.setFontItalic(true);
    }
    if (style.strikethrough) {
        f.setFontStrikeOut(true);
    }
    if (style.highlighted) {
        const int *rgb = isDark(palette) ? Rules::highlightRgbDark : Rules::highlightRgbLight;
        f.setBackground(QColor::fromRgbF(float(rgb[0] / 255.0), float(rgb[1] / 255.0), float(rgb[2] / 255.0),
                                         float(Rules::highlightAlpha)));
    }
    return f;
}

bool highlight(ListContinuingTextView *view)
{
    QTextDocument *document = view->document();
    // The limit counts the text as written: a CR LF is two units there,
    // though the display holds one line break.
    const QList<Rules::HighlightSpan> spans = view->length() > Rules::maximumLength
                                                  ? QList<Rules::HighlightSpan>()
                                                  : Rules::spans(view->displayText());
    const QPalette palette = view->palette();
    QHash<int, QTextCharFormat> formats;

    view->beginFormatting();
    int runStart = -1;
    int runEnd = -1;
    const auto flush = [&] {
        if (runStart >= 0) {
            document->markContentsDirty(runStart, runEnd - runStart);
            runStart = -1;
        }
    };

    qsizetype first = 0; // first span that may reach the current line
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const int blockStart = block.position();
        const int textEnd = blockStart + block.length() - 1;
        while (first < spans.size() && spans.at(first).range.end() <= blockStart) {
            ++first;
        }
        QList<QTextLayout::FormatRange> ranges;
        for (qsizetype k = first; k < spans.size() && spans.at(k).range.location < textEnd; ++k) {
            const Rules::HighlightSpan &span = spans.at(k);
            const int start = int(std::max<qsizetype>(span.range.location, blockStart));
            const int end = int(std::min<qsizetype>(span.range.end(), textEnd));
            if (end <= start) {
                continue;
            }
            const int key = styleKey(span.style);
            auto it = formats.find(key);
            if (it == formats.end()) {
                it = formats.insert(key, format(span.style, palette));
            }
            ranges.append({start - blockStart, end - start, *it});
        }
        QTextLayout *layout = block.layout();
        if (layout->formats() == ranges) {
            flush();
            continue;
        }
        layout->setFormats(ranges);
        if (runStart < 0) {
            runStart = blockStart;
        }
        runEnd = blockStart + block.length();
    }
    flush();
    view->endFormatting();
    return !spans.isEmpty();
}

void shiftFormats(const QTextBlock &block, int position, int removed, int added)
{
    if (!block.isValid()) {
        return;
    }
    QTextLayout *layout = block.layout();
    QList<QTextLayout::FormatRange> ranges = layout->formats();
    if (ranges.isEmpty()) {
        return;
    }
    const int f = position - block.position();
    const int textLength = block.length() - 1;
    const auto map = [&](int p) {
        if (p < f) {
            return p;
        }
        if (p >= f + removed) {
            return p + added - removed;
        }
        return f + added;
    };
    QList<QTextLayout::FormatRange> shifted;
    shifted.reserve(ranges.size());
    for (QTextLayout::FormatRange r : std::as_const(ranges)) {
        const int start = std::clamp(map(r.start), 0, textLength);
        const int end = std::clamp(map(r.start + r.length), 0, textLength);
        if (end > start) {
            r.start = start;
            r.length = end - start;
            shifted.append(r);
        }
    }
    if (shifted != ranges) {
        layout->setFormats(shifted);
    }
}

} // namespace SyntaxHighlighter
