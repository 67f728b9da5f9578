#pragma once

#include "KeyboardShortcuts/core/Name.h"

#include <QWidget>

class QFormLayout;
class QLabel;

namespace KeyboardShortcuts {

class Registry;
class ShortcutRecorder;

// A recorder row: an optional label at the leading edge and the recorder
// field at the trailing edge.
class Recorder final : public QWidget
{
    Q_OBJECT

public:
    // `registry` is not owned and must outlive the row.
    Recorder(Registry *registry, const Name &name, QWidget *parent = nullptr);
    Recorder(const QString &title, Registry *registry, const Name &name, QWidget *parent = nullptr);

    ShortcutRecorder *field() const { return m_field; }
    QLabel *label() const { return m_label; }
    // The field shows the new name's stored shortcut.
    void setName(const Name &name);

private:
    ShortcutRecorder *m_field;
    QLabel *m_label = nullptr;
};

// The recorders of a settings page, one labelled row each, with a line
// under them saying that global shortcuts need an X11 session when the
// session is Wayland.
class RecorderForm final : public QWidget
{
    Q_OBJECT

public:
    // `registry` is not owned and must outlive the form.
    explicit RecorderForm(Registry *registry, QWidget *parent = nullptr);

    ShortcutRecorder *addRecorder(const QString &title, const Name &name);

private:
    Registry *m_registry;
    QFormLayout *m_form;
    QLabel *m_sessionNote;
};

} // namespace KeyboardShortcuts
