#pragma once

#include "KeyboardShortcuts/core/Name.h"

#include <QLineEdit>

#include <memory>
#include <optional>

namespace KeyboardShortcuts {

class LocalEventMonitor;
class Registry;

// The field in which the user records the global shortcut of one name. It
// shows the stored shortcut, records while it has the focus (taken by a
// click or Tab, never by its window becoming active), stores the next
// accepted combination and gives up the focus. Its clear button, Backspace
// or Delete remove the shortcut; Escape cancels. While it records the
// global shortcuts are paused so that pressing one records it.
class ShortcutRecorder final : public QLineEdit
{
    Q_OBJECT

public:
    // `registry` is not owned and must outlive the field.
    ShortcutRecorder(Registry *registry, const Name &name, QWidget *parent = nullptr);
    ~ShortcutRecorder() override;

    const Name &shortcutName() const { return m_name; }
    void setShortcutName(const Name &name);
    bool isRecording() const { return m_monitor != nullptr; }

    QSize sizeHint() const override;

Q_SIGNALS:
    // After the user stored or cleared a shortcut here.
    void shortcutChanged(std::optional<KeyboardShortcuts::Shortcut> shortcut);

protected:
    bool event(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showStoredShortcut();
    void startRecording();
    void endRecording();
    bool handleEvent(QEvent *event);
    bool handleKeyPress(QKeyEvent *event);
    void textWasChanged(const QString &text);
    // False when a conflict alert refused the shortcut.
    bool confirm(const Shortcut &shortcut);
    void giveUpFocus();
    void takeFocus();

    Registry *m_registry;
    Name m_name;
    QAction *m_clearAction;
    std::unique_ptr<LocalEventMonitor> m_monitor;
    bool m_settingText = false;
    // The next focus-in starts recording whatever its reason.
    bool m_resumeRecording = false;
    // Recording resumed after an alert on Qt's own activation of the
    // window; the window manager's may still come, by way of a moment
    // without the keyboard.
    bool m_resumedBeforeWindowManager = false;
};

} // namespace KeyboardShortcuts
