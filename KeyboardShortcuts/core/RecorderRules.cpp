#include "KeyboardShortcuts/core/RecorderRules.h"

#include "KeyboardShortcuts/core/KeyCodes.h"

namespace KeyboardShortcuts {

namespace {

bool isModifierKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
        return true;
    default:
        return false;
    }
}

constexpr qint64 escapeKeyCode = 53;

} // namespace

RecorderDecision decideRecorderKeyPress(int xKeyCode, int qtKey, Qt::KeyboardModifiers modifiers)
{
    if (isModifierKey(qtKey))
        return {RecorderDecision::ignore, std::nullopt};
    const Qt::KeyboardModifiers withShift =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const std::optional<qint64> keyCode = keyCodeForXKeyCode(xKeyCode);
    if (!withShift) {
        if (qtKey == Qt::Key_Tab)
            return {RecorderDecision::passOn, std::nullopt};
        if (keyCode == escapeKeyCode)
            return {RecorderDecision::cancel, std::nullopt};
        if (qtKey == Qt::Key_Backspace || qtKey == Qt::Key_Delete)
            return {RecorderDecision::clear, std::nullopt};
    }
    if (!(withShift & ~Qt::ShiftModifier) && !(qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35))
        return {RecorderDecision::reject, std::nullopt};
    if (!keyCode)
        return {RecorderDecision::reject, std::nullopt};
    return {RecorderDecision::candidate, Shortcut(Key{*keyCode}, withShift)};
}

bool skipsSystemCheck(const Shortcut &shortcut)
{
    return shortcut == Shortcut(Key::f12());
}

} // namespace KeyboardShortcuts
