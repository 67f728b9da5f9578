#include "platform/PlainTextAlert.h"

#include <QLabel>
#include <QMessageBox>

void setPlainAlertTexts(QMessageBox &box, const QString &text, const QString &informative)
{
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setInformativeText(informative);
    for (QLabel *label : box.findChildren<QLabel *>()) {
        label->setTextFormat(Qt::PlainText);
    }
}
