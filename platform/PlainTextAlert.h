#pragma once

#include <QString>

class QMessageBox;

// Puts `text` and `informative` on `box` as plain text. Alerts quote the
// user's own material (titles, file names, server messages); read as markup,
// "<img src=file:…>" in a title would load a local file into the alert.
// QMessageBox::setTextFormat() covers the main text only, so every label of
// the box is switched.
void setPlainAlertTexts(QMessageBox &box, const QString &text, const QString &informative = {});
