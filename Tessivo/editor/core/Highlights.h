#pragma once

#include <QList>
#include <QString>

#include "store/TextRange.h"

// "==text==" outside inline code becomes "<mark>text</mark>"; the text inside
// stays Markdown for the parser.
QString applyHighlights(const QString &line);
// The same, with nothing inside the `verbatim` ranges of the line (code, HTML,
// link destinations) opening or closing a highlight.
QString applyHighlights(const QString &line, const QList<TextRange> &verbatim);
