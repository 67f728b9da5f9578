#include "widgets/ConfirmationBox.h"

#include "platform/PlainTextAlert.h"

#include <QMessageBox>

QMessageBox *makeConfirmation(const QString &title, const QString &message, const QString &destructiveText,
                              QWidget *parent)
{
    auto *box = new QMessageBox(parent);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    // Titles are the user's own text; neither line may be read as markup.
    setPlainAlertTexts(*box, title, message);
    box->addButton(destructiveText, QMessageBox::DestructiveRole);
    box->setDefaultButton(box->addButton(QMessageBox::Cancel));
    return box;
}
