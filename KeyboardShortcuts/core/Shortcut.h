#pragma once

#include "KeyboardShortcuts/core/Key.h"

#include <QHashFunctions>
#include <QString>
#include <Qt>

#include <optional>

namespace KeyboardShortcuts {

// Stored modifier bits.
constexpr qint64 cmdKey = 0x100;
constexpr qint64 shiftKey = 0x200;
constexpr qint64 optionKey = 0x800;
constexpr qint64 controlKey = 0x1000;

// The stored modifiers as Qt's: command is Ctrl, option is Alt, control is
// Meta (the Super key on X11).
constexpr Qt::KeyboardModifier command = Qt::ControlModifier;
constexpr Qt::KeyboardModifier shift = Qt::ShiftModifier;
constexpr Qt::KeyboardModifier option = Qt::AltModifier;
constexpr Qt::KeyboardModifier control = Qt::MetaModifier;

// Only Ctrl, Alt, Shift and Meta count; keypad and group bits are dropped.
qint64 carbonModifiers(Qt::KeyboardModifiers modifiers);
Qt::KeyboardModifiers modifiersFromCarbon(qint64 carbonModifiers);

enum class EventType { keyDown, keyUp };

// A key with modifier keys. The JSON text is
// {"carbonKeyCode":<code>,"carbonModifiers":<bits>}.
struct Shortcut
{
    qint64 carbonKeyCode = 0;
    qint64 carbonModifiers = 0;

    Shortcut() = default;
    Shortcut(Key key, Qt::KeyboardModifiers modifiers = {});
    // Normalises the modifier bits; the decoder alone keeps what it reads.
    static Shortcut fromCarbon(qint64 keyCode, qint64 modifiers = 0);

    Qt::KeyboardModifiers modifiers() const { return modifiersFromCarbon(carbonModifiers); }

    QString toJson() const;
    static std::optional<Shortcut> fromJson(const QString &json);

    friend bool operator==(const Shortcut &, const Shortcut &) = default;
};

inline size_t qHash(const Shortcut &shortcut, size_t seed = 0)
{
    return qHashMulti(seed, shortcut.carbonKeyCode, shortcut.carbonModifiers);
}

} // namespace KeyboardShortcuts
