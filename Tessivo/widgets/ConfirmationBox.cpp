#include "widgets/ConfirmationBox.h"

#include <QMessageBox>

QMessageBox *makeConfirmation(const QString &title, const QString &message, const QString &destructiveText,
                              QWidget *parent)
{
    auto *box = new QMessageBox(parent);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setText(title);
    box->setInformativeText(message);
    box->addButton(destructiveText, QMessageBox::DestructiveRole);
    box->setDefaultButton(box->addButton(QMessageBox::Cancel));
    return box;
}
