#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// The sidebar's name prompt: a title, an optional message, one name field
// and two buttons, Cancel and the confirming one (the default button).
class SidebarPrompt final : public QDialog
{
    Q_OBJECT

public:
    SidebarPrompt(const QString &title, const QString &message, const QString &acceptText, QWidget *parent);

    QLineEdit *field() const { return m_field; }
    QPushButton *acceptButton() const { return m_accept; }
    QPushButton *cancelButton() const { return m_cancel; }

private:
    QLineEdit *m_field;
    QPushButton *m_accept;
    QPushButton *m_cancel;
};
