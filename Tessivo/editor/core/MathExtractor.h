#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// Keeps TeX away from the Markdown parser: every math span ($...$ inline,
// $$...$$ display) is swapped for a placeholder before the other passes run,
// and put back into the rendered HTML as a span element that the preview's
// typesetter picks up. Code (fenced blocks, inline code spans) and escaped
// dollars are left alone.
namespace MathExtractor {

struct Span
{
    QString tex;          // without the dollars
    bool display = false; // true between double dollars

    friend bool operator==(const Span &, const Span &) = default;
};

struct Extracted
{
    QString text;
    QList<Span> spans; // numbered from 0 in the order found
};

// The text with every math span replaced by placeholder(k), and the spans.
Extracted extract(const QString &text);

// The HTML with every placeholder replaced by its span element; a placeholder
// standing alone in a paragraph replaces that paragraph.
QString restore(const QString &html, const QList<Span> &spans);

// U+E000, "M", the decimal k, U+E000.
QString placeholder(qsizetype k);

// The span element of one span: class "math", data-display "1" or "0", the TeX
// with &, < and > escaped.
QString markup(const Span &span);

// A fence marker at `i` (up to three spaces, then at least three backticks
// or tildes): its character and length; length 0 when there is none.
struct FenceMarker
{
    char16_t character = 0;
    qsizetype length = 0;
};
FenceMarker fenceMarker(QStringView text, qsizetype i);

// The closing "$" of an inline span whose TeX starts at `from`, or -1.
qsizetype closingDollar(QStringView text, qsizetype from);

} // namespace MathExtractor
