#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include "store/TextRange.h"

// "==text==" outside inline code becomes "<mark>text</mark>"; the text inside
// stays Markdown for the parser.
QString applyHighlights(const QString &line);
// The same, with nothing inside the `verbatim` ranges of the line (code, HTML,
// link destinations) opening or closing a highlight.
QString applyHighlights(const QString &line, const QList<TextRange> &verbatim);
// The same, appending the result to `out`; `scratch` is working space kept
// between calls.
void appendHighlights(QString &out, QStringView line, const QList<TextRange> &verbatim, QString &scratch);
