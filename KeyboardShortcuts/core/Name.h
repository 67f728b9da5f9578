#pragma once

#include "KeyboardShortcuts/core/Shortcut.h"

#include <QHashFunctions>
#include <QString>

#include <optional>

namespace KeyboardShortcuts {

// The identity under which a shortcut is stored, recorded and handled: a
// plain value. Making one writes nothing and claims nothing; the registry
// stores the default when it first meets the name. Equality is by the name
// text alone.
class Name
{
public:
    explicit Name(const QString &rawValue, const std::optional<Shortcut> &defaultShortcut = std::nullopt)
        : m_rawValue(rawValue), m_defaultShortcut(defaultShortcut)
    {}

    const QString &rawValue() const { return m_rawValue; }
    const std::optional<Shortcut> &defaultShortcut() const { return m_defaultShortcut; }
    QString settingsKey() const { return QStringLiteral("KeyboardShortcuts_") + m_rawValue; }

    friend bool operator==(const Name &a, const Name &b) { return a.m_rawValue == b.m_rawValue; }

private:
    QString m_rawValue;
    std::optional<Shortcut> m_defaultShortcut;
};

inline size_t qHash(const Name &name, size_t seed = 0)
{
    return qHash(name.rawValue(), seed);
}

} // namespace KeyboardShortcuts
