#include "shell/ExportActions.h"

#include "app/core/AppSettings.h"
#include "platform/PlainTextAlert.h"
#include "shell/core/DetailExport.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>

using namespace Qt::StringLiterals;

namespace ExportActions {

namespace {

QString askForPath(const Strategies &strategies, QWidget *parent, const QString &suggestedName,
                   ExportFormat format)
{
    if (strategies.saveDialog)
        return strategies.saveDialog(parent, suggestedName, format);
    const QString filter = format == ExportFormat::Markdown ? u"Markdown (*.md)"_s : u"HTML (*.html)"_s;
    AppSettings settings;
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(fileExtension(format));
    dialog.setDirectory(settings.dialogFolder());
    dialog.selectFile(suggestedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString path = dialog.selectedFiles().constFirst();
    settings.rememberDialogChoice(path);
    return path;
}

void showError(const Strategies &strategies, QWidget *parent, const QString &message, const QString &detail)
{
    if (strategies.errorAlert) {
        strategies.errorAlert(parent, message, detail);
        return;
    }
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Critical);
    setPlainAlertTexts(box, message, detail);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

} // namespace

void exportDocument(QWidget *parent, const Document &document, ExportFormat format, const QString &html,
                    const Strategies &strategies)
{
    const QString title = document.displayTitle();
    const QString path =
        askForPath(strategies, parent, DetailExport::suggestedFileName(title, format), format);
    if (path.isEmpty())
        return;
    const QString text = DetailExport::exportText(format, document.body, title, html);
    QString error;
    if (!DetailExport::writeAtomically(path, text, &error)) {
        showError(strategies, parent,
                  u"The file \u201C"_s + QFileInfo(path).fileName() + u"\u201D couldn't be saved."_s, error);
    }
}

void copyMarkdown(const Document &document)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(document.body);
}

} // namespace ExportActions
