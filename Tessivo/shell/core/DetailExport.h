#pragma once

#include "shell/core/StandaloneHtml.h"

#include <QString>

// Taking the open document out of the application: the file name offered,
// the text written, and the write itself.
namespace DetailExport {

// The display title and the format's extension; a "/" or NUL, which no file
// name may hold, becomes "-".
QString suggestedFileName(const QString &displayTitle, ExportFormat format);

// Markdown: the body exactly as stored, front matter included. HTML: the
// standalone page of `html` under the display title.
QString exportText(ExportFormat format, const QString &body, const QString &displayTitle,
                   const QString &html);

// Writes `text` as UTF-8, replacing the file in one step: either the whole
// new file is there afterwards or the old one is untouched. False with
// `error` set when that fails.
bool writeAtomically(const QString &path, const QString &text, QString *error = nullptr);

} // namespace DetailExport
