#pragma once

#include <QtGlobal>

#include <optional>

namespace KeyboardShortcuts {

// Stored key codes name key positions, so they map to Linux evdev codes by a
// fixed table; the keyboard layout plays no part. An X key code is the evdev
// code plus 8. The modifier keys follow the modifier mapping (the stored
// command key is Ctrl, control is Meta/Super, option is Alt).
std::optional<int> evdevCode(qint64 keyCode);
std::optional<qint64> keyCodeForEvdev(int evdev);

inline std::optional<int> xKeyCode(qint64 keyCode)
{
    const std::optional<int> evdev = evdevCode(keyCode);
    return evdev ? std::optional<int>(*evdev + 8) : std::nullopt;
}

inline std::optional<qint64> keyCodeForXKeyCode(int xKeyCode)
{
    return keyCodeForEvdev(xKeyCode - 8);
}

} // namespace KeyboardShortcuts
