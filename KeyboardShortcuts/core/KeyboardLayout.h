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
    static std::unique_ptr<KeyboardLayout> fromNames(const QString &layout, const QString &variant = {});

    // The unshifted character of an X key code. Of several groups the first
    // that gives ASCII wins, so a Latin shortcut shows beside a Cyrillic
    // layout; dead keys show their accent. Empty: nothing printable.
    std::optional<QString> character(int xKeyCode) const;

    // The layout the system uses now, as the window system last reported it
    // (not owned; none until set).
    static const KeyboardLayout *current();
    static void setCurrent(std::shared_ptr<const KeyboardLayout> layout);

private:
    xkb_keymap *m_keymap;
};

} // namespace KeyboardShortcuts
