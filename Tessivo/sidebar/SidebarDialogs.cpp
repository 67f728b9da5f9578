#include "sidebar/SidebarDialogs.h"

#include "sidebar/core/SidebarTexts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

SidebarPrompt::SidebarPrompt(const QString &title, const QString &message, const QString &acceptText,
                             QWidget *parent)
    : QDialog(parent), m_field(new QLineEdit(this)), m_accept(new QPushButton(acceptText, this)),
      m_cancel(new QPushButton(SidebarTexts::cancel(), this))
{
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(8);
    auto *heading = new QLabel(title, this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    heading->setTextFormat(Qt::PlainText);
    layout->addWidget(heading);
    if (!message.isEmpty()) {
        auto *text = new QLabel(message, this);
        text->setWordWrap(true);
        text->setTextFormat(Qt::PlainText);
        layout->addWidget(text);
    }
    m_field->setPlaceholderText(SidebarTexts::namePlaceholder());
    m_field->setMinimumWidth(260);
    layout->addSpacing(4);
    layout->addWidget(m_field);
    layout->addSpacing(6);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_accept);
    layout->addLayout(buttons);
    m_accept->setDefault(true);
    m_accept->setAutoDefault(true);
    m_cancel->setAutoDefault(false);
    connect(m_accept, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}
