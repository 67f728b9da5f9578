#include "shell/EmptyDetailView.h"

#include "store/DocumentStore.h"
#include "widgets/Icon.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

EmptyDetailView::EmptyDetailView(DocumentStore *store, QWidget *parent) : QWidget(parent), m_store(store)
{
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->addStretch(1);

    auto *icon = new Icon(IconName::pencilSquare, 36, this);
    icon->setColor(Icon::tertiaryColor(palette()));
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    auto *title = new QLabel(u"No document selected"_s, this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    layout->addWidget(title, 0, Qt::AlignHCenter);

    auto *note = new QLabel(u"Pick one in the sidebar, or start something new."_s, this);
    QPalette notePalette = note->palette();
    notePalette.setColor(QPalette::WindowText, Icon::secondaryColor(palette()));
    note->setPalette(notePalette);
    layout->addWidget(note, 0, Qt::AlignHCenter);

    layout->addSpacing(6);
    m_button = new QPushButton(u"New Document"_s, this);
    m_button->setDefault(true);
    layout->addWidget(m_button, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(m_button, &QPushButton::clicked, this, &EmptyDetailView::createDocument);
    // Return creates a document while the keyboard is in this view; taking it
    // window-wide would steal it from the sidebar's fields.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto *shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, &EmptyDetailView::createDocument);
    }
}

void EmptyDetailView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Nothing else in the pane can take the keyboard now.
    if (!QApplication::focusWidget() || !QApplication::focusWidget()->isVisible())
        m_button->setFocus(Qt::OtherFocusReason);
}

void EmptyDetailView::createDocument()
{
    m_store->createDocument(std::nullopt, QString());
}
