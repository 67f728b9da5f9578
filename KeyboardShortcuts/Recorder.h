#pragma once

#include "KeyboardShortcuts/core/Name.h"

#include <QWidget>

class QFormLayout;
class QLabel;

namespace KeyboardShortcuts {

class ShortcutRecorder;

// A recorder row: an optional label at the leading edge and the recorder
// field at the trailing edge.
class Recorder final : public QWidget
{
    Q_OBJECT

public:
    explicit Recorder(const Name &name, QWidget *parent = nullptr);
    Recorder(const QString &title, const Name &name, QWidget *parent = nullptr);

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
    explicit RecorderForm(QWidget *parent = nullptr);

    ShortcutRecorder *addRecorder(const QString &title, const Name &name);

private:
    QFormLayout *m_form;
    QLabel *m_sessionNote;
};

} // namespace KeyboardShortcuts
