#pragma once

#include "KeyboardShortcuts/core/Shortcut.h"

#include <optional>

namespace KeyboardShortcuts {

// What the recorder does with a key press while it records.
struct RecorderDecision
{
    enum Action {
        ignore,    // a modifier key alone: wait for the rest
        passOn,    // Tab: recording ends, focus moves on as usual
        cancel,    // Escape: recording ends, the stored shortcut stays
        clear,     // Backspace/Delete: remove the stored shortcut
        reject,    // beep, keep recording
        candidate, // check for conflicts, then store
    };
    Action action = ignore;
    std::optional<Shortcut> shortcut;
};

// `xKeyCode` is the pressed key's position, `qtKey` what Qt made of it.
// Caps Lock and the keypad flag are no modifiers; a key without Ctrl, Alt
// or Meta must be a function key.
RecorderDecision decideRecorderKeyPress(int xKeyCode, int qtKey, Qt::KeyboardModifiers modifiers);

// The system check is skipped for a plain F12.
bool skipsSystemCheck(const Shortcut &shortcut);

} // namespace KeyboardShortcuts
