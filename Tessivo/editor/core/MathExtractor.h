#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <utility>

#include "editor/core/LineClassifier.h"

// Keeps TeX away from the Markdown parser: every math span ($...$ inline,
// $$...$$ display) is swapped for a placeholder before the other passes run,
// and put back into the rendered HTML as a span element that the preview's
// typesetter picks up. Code (fenced blocks, inline code spans), HTML tags and
// comments, link destinations and escaped dollars are left alone.
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
    // The placeholders' delimiter: U+E000, or when the text holds that
    // character the first private-use character it does not hold.
    char16_t delimiter = 0xE000;
    // The spans that took line breaks: where each one's placeholder starts
    // in `text`, and how many breaks it took.
    QList<std::pair<qsizetype, qsizetype>> joins;
};

// The text with every math span replaced by placeholder(k), and the spans.
Extracted extract(const QString &text);
// The same for a text whose lines are known (LineClassifier::classify of
// `text`), so that a render classifies once.
Extracted extract(const QString &text, const QList<LineClassifier::TextLine> &lines);

// The HTML with every placeholder replaced by its span element; a placeholder
// standing alone in a paragraph replaces that paragraph. Each span is
// restored once: later copies of its placeholder are dropped.
QString restore(const QString &html, const QList<Span> &spans, char16_t delimiter = 0xE000);
// The same for HTML in UTF-8 (as the Markdown library writes it), decoded
// while the spans are put back: a render converts its HTML once.
QString restoreUtf8(QByteArrayView html, const QList<Span> &spans, char16_t delimiter = 0xE000);

// U+E000, "M", the decimal k, U+E000.
QString placeholder(qsizetype k);

// The span element of one span: class "math", data-display "1" or "0", the TeX
// with &, < and > escaped.
QString markup(const Span &span);

// The closing "$" of an inline span whose TeX starts at `from`, or -1.
qsizetype closingDollar(QStringView text, qsizetype from);

} // namespace MathExtractor
