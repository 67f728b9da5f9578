#pragma once

#include <QString>

// "==text==" outside inline code becomes "<mark>text</mark>"; the text inside
// stays Markdown for the parser.
QString applyHighlights(const QString &line);
