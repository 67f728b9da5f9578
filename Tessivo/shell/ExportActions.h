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

// Empty parts use the platform's dialog and alert.
struct Strategies
{
    SaveDialog saveDialog;
    ErrorAlert errorAlert;
};

// `html` is the document's rendered preview, used for the HTML page.
void exportDocument(QWidget *parent, const Document &document, ExportFormat format, const QString &html,
                    const Strategies &strategies = {});
void copyMarkdown(const Document &document);

} // namespace ExportActions
