#include "KeyboardShortcuts/Recorder.h"

#include "KeyboardShortcuts/ShortcutRecorder.h"
#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace KeyboardShortcuts {

Recorder::Recorder(Registry *registry, const Name &name, QWidget *parent)
    : QWidget(parent), m_field(new ShortcutRecorder(registry, name, this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_field);
}

Recorder::Recorder(const QString &title, Registry *registry, const Name &name, QWidget *parent)
    : Recorder(registry, name, parent)
{
    m_label = new QLabel(title, this);
    m_label->setBuddy(m_field);
    auto *row = static_cast<QHBoxLayout *>(layout());
    row->insertWidget(0, m_label);
    row->insertStretch(1);
}

void Recorder::setName(const Name &name)
{
    m_field->setShortcutName(name);
}

RecorderForm::RecorderForm(Registry *registry, QWidget *parent)
    : QWidget(parent), m_registry(registry), m_form(new QFormLayout),
      m_sessionNote(new QLabel(QStringLiteral("Global shortcuts need an X11 session."), this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(m_form);
    layout->addWidget(m_sessionNote);
    m_sessionNote->setWordWrap(true);
    m_sessionNote->setVisible(isWaylandSession());
}

ShortcutRecorder *RecorderForm::addRecorder(const QString &title, const Name &name)
{
    auto *field = new ShortcutRecorder(m_registry, name, this);
    auto *label = new QLabel(title, this);
    label->setBuddy(field);
    m_form->addRow(label, field);
    return field;
}

} // namespace KeyboardShortcuts
