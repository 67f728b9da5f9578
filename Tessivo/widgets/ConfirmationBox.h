#pragma once

#include <QString>

class QMessageBox;
class QWidget;

// A confirmation with a heading, a message and one destructive button, the
// platform's Cancel button beside it as the default. Every confirmation of
// the window is built here, so that the same question reads the same from
// the menu and from the sidebar. The heading (which may hold a long
// document title) sits in the box, where it wraps whole; the window title
// stays the application's name, as the window manager would cut a long one.
QMessageBox *makeConfirmation(const QString &title, const QString &message, const QString &destructiveText,
                              QWidget *parent);
