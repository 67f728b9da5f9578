#include "KeyboardShortcuts/ShortcutRecorder.h"

#include "KeyboardShortcuts/LocalEventMonitor.h"
#include "KeyboardShortcuts/MenuItemShortcuts.h"
#include "KeyboardShortcuts/core/DisplayText.h"
#include "KeyboardShortcuts/core/KeyboardShortcuts.h"
#include "KeyboardShortcuts/core/RecorderRules.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

#include <algorithm>
#include <utility>

namespace KeyboardShortcuts {

namespace {

constexpr int fieldWidth = 130;

QAction *menuActionWithShortcut(const Shortcut &shortcut, const KeyboardLayout *layout)
{
    for (QWidget *window : QApplication::topLevelWidgets())
        for (QMenuBar *bar : window->findChildren<QMenuBar *>())
            if (QAction *action = actionWithMatchingShortcut(shortcut, bar->actions(), layout))
                return action;
    return nullptr;
}

} // namespace

ShortcutRecorder::ShortcutRecorder(Registry *registry, const Name &name, QWidget *parent)
    : QLineEdit(parent), m_registry(registry), m_name(name)
{
    setPlaceholderText(localizedText(QStringLiteral("record_shortcut")));
    setAlignment(Qt::AlignCenter);
    // A clear button of its own: the line edit's built-in one is disabled
    // while the field is read-only, which is exactly while it records (and
    // the click that reaches an idle field's button starts recording first).
    m_clearAction = addAction(style()->standardIcon(QStyle::SP_LineEditClearButton), TrailingPosition);
    connect(m_clearAction, &QAction::triggered, this, [this] {
        if (!text().isEmpty())
            clear();
    });
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    showStoredShortcut();
    connect(this, &QLineEdit::textChanged, this, &ShortcutRecorder::textWasChanged);
    connect(m_registry, &Registry::shortcutByNameDidChange, this, [this](const Name &changed) {
        if (changed == m_name)
            showStoredShortcut();
    });
    connect(m_registry, &Registry::layoutChanged, this, &ShortcutRecorder::showStoredShortcut);
}

ShortcutRecorder::~ShortcutRecorder()
{
    if (isRecording()) {
        m_monitor.reset();
        m_registry->setPaused(false);
    }
}

void ShortcutRecorder::setShortcutName(const Name &name)
{
    const bool changed = name.rawValue() != m_name.rawValue();
    m_name = name;
    if (changed)
        showStoredShortcut();
}

QSize ShortcutRecorder::sizeHint() const
{
    // Wide enough for the prompts centred between the clear button and its
    // mirror on the other side.
    const QSize base = QLineEdit::sizeHint();
    int text = 0;
    for (const char *key : {"record_shortcut", "press_shortcut"})
        text = std::max(text, fontMetrics().horizontalAdvance(localizedText(QLatin1String(key))));
    return {std::max(fieldWidth, text + 2 * base.height() + 8), base.height()};
}

void ShortcutRecorder::showStoredShortcut()
{
    const std::optional<Shortcut> shortcut = m_registry->shortcut(m_name);
    m_settingText = true;
    setText(shortcut ? description(*shortcut, m_registry->layout()) : QString());
    m_settingText = false;
    m_clearAction->setVisible(!text().isEmpty());
}

bool ShortcutRecorder::event(QEvent *event)
{
    // Menu and window shortcuts must not fire on the keys being recorded.
    if (event->type() == QEvent::ShortcutOverride && isRecording()) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void ShortcutRecorder::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // Asked for after an alert: the focus may arrive only when the window
    // manager has made the window active again, tagged as that activation.
    if (std::exchange(m_resumeRecording, false)) {
        m_resumedBeforeWindowManager = event->reason() != Qt::ActiveWindowFocusReason;
        startRecording();
        return;
    }
    switch (event->reason()) {
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
        // The window (re)gained the focus: that alone never starts recording.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (hasFocus() && !isRecording())
                    clearFocus();
            },
            Qt::QueuedConnection);
        break;
    default:
        startRecording();
    }
}

void ShortcutRecorder::focusOutEvent(QFocusEvent *event)
{
    const bool windowManagerPending =
        std::exchange(m_resumedBeforeWindowManager, false) && event->reason() == Qt::ActiveWindowFocusReason;
    endRecording();
    QLineEdit::focusOutEvent(event);
    if (windowManagerPending) {
        // The window lost the keyboard between Qt's activation after the
        // alert and the window manager's: recording resumes when it is back.
        m_resumeRecording = true;
        return;
    }
    if (event->reason() == Qt::ActiveWindowFocusReason)
        clearFocus();
}

void ShortcutRecorder::paintEvent(QPaintEvent *event)
{
    QLineEdit::paintEvent(event);
    // A centred line edit hides its placeholder while focused; recording
    // is exactly when the prompt matters.
    if (!isRecording() || !text().isEmpty())
        return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(rect(), Qt::AlignCenter, placeholderText());
}

void ShortcutRecorder::mousePressEvent(QMouseEvent *event)
{
    // The field may hold the focus without recording (its window was just
    // activated): a click starts recording all the same.
    QLineEdit::mousePressEvent(event);
    if (hasFocus())
        startRecording();
}

void ShortcutRecorder::keyPressEvent(QKeyEvent *event)
{
    // Nothing is typed into the field; recording handles keys earlier.
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)
        QLineEdit::keyPressEvent(event);
}

void ShortcutRecorder::startRecording()
{
    if (isRecording())
        return;
    setPlaceholderText(localizedText(QStringLiteral("press_shortcut")));
    setReadOnly(true); // no caret while recording
    m_registry->setPaused(true);
    m_monitor = std::make_unique<LocalEventMonitor>(
        std::initializer_list<QEvent::Type>{QEvent::KeyPress, QEvent::MouseButtonPress,
                                            QEvent::MouseButtonRelease},
        [this](QObject *, QEvent *event) { return handleEvent(event); });
    m_monitor->start();
}

void ShortcutRecorder::endRecording()
{
    if (!isRecording())
        return;
    // Recording usually ends inside the monitor's own callback: stop it
    // now, delete it once that call has returned.
    LocalEventMonitor *monitor = m_monitor.release();
    QCoreApplication::instance()->removeEventFilter(monitor);
    monitor->deleteLater();
    setReadOnly(false);
    setPlaceholderText(localizedText(QStringLiteral("record_shortcut")));
    m_registry->setPaused(false);
}

bool ShortcutRecorder::handleEvent(QEvent *event)
{
    if (event->type() != QEvent::KeyPress) {
        // A click on the field is its own (its clear button's included). One
        // within 3 pixels of it counts as on it and reaches nothing else,
        // not even the focus; one further away ends recording and reaches
        // its target. Seen first at the window, before any widget.
        const QPoint at = mapFromGlobal(static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
        if (rect().contains(at))
            return false;
        if (rect().adjusted(-3, -3, 3, 3).contains(at))
            return true;
        if (event->type() == QEvent::MouseButtonRelease)
            giveUpFocus();
        return false;
    }
    return handleKeyPress(static_cast<QKeyEvent *>(event));
}

bool ShortcutRecorder::handleKeyPress(QKeyEvent *event)
{
    m_resumedBeforeWindowManager = false; // the keyboard is the window's
    const RecorderDecision decision =
        decideRecorderKeyPress(static_cast<int>(event->nativeScanCode()), event->key(), event->modifiers());
    switch (decision.action) {
    case RecorderDecision::ignore:
        return true;
    case RecorderDecision::passOn:
        return false;
    case RecorderDecision::cancel:
        giveUpFocus();
        return true;
    case RecorderDecision::clear:
        if (!text().isEmpty())
            clear();
        return true;
    case RecorderDecision::reject:
        QApplication::beep();
        return true;
    case RecorderDecision::candidate:
        break;
    }
    const Shortcut shortcut = *decision.shortcut;
    if (!confirm(shortcut))
        return true;
    m_settingText = true;
    setText(description(shortcut, m_registry->layout()));
    m_settingText = false;
    m_registry->setShortcut(shortcut, m_name);
    Q_EMIT shortcutChanged(shortcut);
    giveUpFocus();
    return true;
}

bool ShortcutRecorder::confirm(const Shortcut &shortcut)
{
    if (QAction *action = menuActionWithShortcut(shortcut, m_registry->layout())) {
        giveUpFocus();
        QMessageBox box(QMessageBox::Warning, QString(),
                        localizedText(QStringLiteral("keyboard_shortcut_used_by_menu_item"))
                            .arg(action->text().remove(QLatin1Char('&'))),
                        QMessageBox::NoButton, window());
        box.exec();
        takeFocus();
        return false;
    }
    if (skipsSystemCheck(shortcut) || !m_registry->isTakenBySystem(shortcut))
        return true;
    giveUpFocus();
    QMessageBox box(QMessageBox::Warning, QString(),
                    localizedText(QStringLiteral("keyboard_shortcut_used_by_system")), QMessageBox::NoButton,
                    window());
    box.setInformativeText(localizedText(QStringLiteral("keyboard_shortcuts_can_be_changed")));
    QPushButton *ok = box.addButton(localizedText(QStringLiteral("ok")), QMessageBox::AcceptRole);
    QPushButton *force =
        box.addButton(localizedText(QStringLiteral("force_use_shortcut")), QMessageBox::ActionRole);
    // Escape, Return and closing the alert all keep the shortcut out.
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    takeFocus();
    return box.clickedButton() == force;
}

void ShortcutRecorder::textWasChanged(const QString &text)
{
    m_clearAction->setVisible(!text.isEmpty());
    // Only the clear button (or Backspace/Delete) empties the field.
    if (m_settingText || !text.isEmpty())
        return;
    m_registry->setShortcut(std::nullopt, m_name);
    Q_EMIT shortcutChanged(std::nullopt);
    takeFocus();
}

void ShortcutRecorder::giveUpFocus()
{
    m_resumeRecording = false;
    m_resumedBeforeWindowManager = false;
    endRecording();
    clearFocus();
}

void ShortcutRecorder::takeFocus()
{
    if (hasFocus()) {
        startRecording();
        return;
    }
    m_resumeRecording = true;
    setFocus(Qt::OtherFocusReason);
}

} // namespace KeyboardShortcuts
