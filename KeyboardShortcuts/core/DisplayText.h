#pragma once

#include "KeyboardShortcuts/core/KeyboardLayout.h"
#include "KeyboardShortcuts/core/Shortcut.h"

#include <QString>

#include <optional>

// What a shortcut shows, in Qt's notation ("Meta+Alt+M"), so that it reads
// the same as the QKeySequence that binds a menu item to it.
namespace KeyboardShortcuts {

// "Meta+Ctrl+Alt+Shift" in Qt's order, for the modifiers present.
QString modifierText(Qt::KeyboardModifiers modifiers);

// The key's text: Qt's name of a special key ("Space", "F5", "Num+5"),
// otherwise the layout's character in upper case. None when the key has
// no character in the layout (or there is no layout).
std::optional<QString> keyText(const Shortcut &shortcut, const KeyboardLayout *layout);

// Modifiers and key joined by "+". A key without a character shows its
// fallback name: the layout's name of its symbol ("Caps_Lock"), else, with
// no text at all, the replacement character U+FFFD.
QString description(const Shortcut &shortcut, const KeyboardLayout *layout);

// The Qt key (with the keypad modifier for keypad keys, without the
// shortcut's modifiers) for a key sequence; 0 when the key has no text.
int qtKey(const Shortcut &shortcut, const KeyboardLayout *layout);

// The recorder's texts, compiled into the binary; a key it lacks shows as
// itself.
QString localizedText(const QString &key);

} // namespace KeyboardShortcuts
