#pragma once

#include "shell/core/StandaloneHtml.h"
#include "store/Document.h"

#include <QString>

#include <functional>

class QWidget;

// The detail pane's export and copy: a save dialog for Markdown or HTML, an
// atomic write, an alert when the write fails; the Markdown on the
// clipboard.
namespace ExportActions {

// Asks where to save; returns the chosen path, empty when cancelled.
using SaveDialog = std::function<QString(QWidget *parent, const QString &suggestedName, ExportFormat format)>;
// Shows a failed write.
using ErrorAlert = std::function<void(QWidget *parent, const QString &message, const QString &detail)>;

// `html` is the document's rendered preview, used for the HTML page.
void exportDocument(QWidget *parent, const Document &document, ExportFormat format, const QString &html);
void copyMarkdown(const Document &document);

// An empty function restores the platform's dialog or alert.
void setSaveDialog(SaveDialog dialog);
void setErrorAlert(ErrorAlert alert);

} // namespace ExportActions
