#pragma once

#include <QString>

// The kinds of file the detail pane exports.
enum class ExportFormat : quint8 { Markdown, Html };

// "md" or "html".
QString fileExtension(ExportFormat format);

// The exported HTML page: a fixed head with a small style sheet, the title
// (with &, < and > escaped) and the preview's HTML fragment unchanged as the
// body. The page ends with "</html>" and no line feed. Pure; cannot fail.
QString standaloneHTML(const QString &title, const QString &html);
