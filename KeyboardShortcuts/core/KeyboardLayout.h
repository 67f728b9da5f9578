#pragma once

#include <QString>

#include <memory>
#include <optional>

struct xkb_keymap;

namespace KeyboardShortcuts {

// A keyboard layout, which only decides what a key shows: the character of
// each key position without modifiers.
class KeyboardLayout
{
public:
    // Adopts `keymap`.
    explicit KeyboardLayout(xkb_keymap *keymap);
    ~KeyboardLayout();
    KeyboardLayout(const KeyboardLayout &) = delete;
    KeyboardLayout &operator=(const KeyboardLayout &) = delete;

    // Compiled from the XKB names (e.g. "de", "us,ru"); null when the
    // layout is unknown.
    static std::unique_ptr<KeyboardLayout> fromNames(const QString &layout, const QString &variant = {},
                                                     const QString &model = {}, const QString &options = {});
    // The layout the session names, whatever the window system: the
    // XKB_DEFAULT_* variables, else XKBLAYOUT (with XKBMODEL, XKBVARIANT and
    // XKBOPTIONS) in the system's keyboard file, else "us". Null only when
    // no keymap compiles at all (no XKB data installed).
    static std::unique_ptr<KeyboardLayout> fromSession(const QString &keyboardFile = defaultKeyboardFile);
    static inline const QString defaultKeyboardFile = QStringLiteral("/etc/default/keyboard");

    // The unshifted character of an X key code. Of several groups the first
    // that gives ASCII wins, so a Latin shortcut shows beside a Cyrillic
    // layout; dead keys show their accent. Empty: nothing printable.
    std::optional<QString> character(int xKeyCode) const;
    // The XKB name of the key's unshifted symbol ("Caps_Lock"), for keys
    // that give no character; empty when the layout has none.
    QString symbolName(int xKeyCode) const;

private:
    xkb_keymap *m_keymap;
};

} // namespace KeyboardShortcuts
