#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

class QSettings;

// User-recordable global shortcuts: their storage and dispatch by name.
// Shortcuts are stored in the application's settings under
// "KeyboardShortcuts_<name>" as the JSON text of
// {"carbonKeyCode":..,"carbonModifiers":..}; the value false marks a
// shortcut the user cleared. Main thread only.
namespace KeyboardShortcuts {

// A key by its virtual key code (the codes the stored shortcuts use).
struct Key
{
    int rawValue = 0;

    static Key n() { return {45}; }
    static Key m() { return {46}; }

    friend bool operator==(const Key &, const Key &) = default;
};

enum Modifier {
    command = 0x1,
    shift = 0x2,
    option = 0x4,
    control = 0x8,
};
using Modifiers = int;

// Stored modifier bits.
constexpr int cmdKey = 256;
constexpr int shiftKey = 512;
constexpr int optionKey = 2048;
constexpr int controlKey = 4096;

struct Shortcut
{
    int carbonKeyCode = 0;
    int carbonModifiers = 0;

    Shortcut() = default;
    Shortcut(Key key, Modifiers modifiers);

    QString toJson() const;
    static std::optional<Shortcut> fromJson(const QString &json);

    friend bool operator==(const Shortcut &, const Shortcut &) = default;
};

class Name
{
public:
    // Stores `defaultShortcut` under the name's key when nothing of any kind
    // is stored there yet (a cleared shortcut's false marker counts).
    explicit Name(const QString &rawValue, const std::optional<Shortcut> &defaultShortcut = std::nullopt);

    const QString &rawValue() const { return m_rawValue; }
    const std::optional<Shortcut> &defaultShortcut() const { return m_defaultShortcut; }
    QString settingsKey() const { return QStringLiteral("KeyboardShortcuts_") + m_rawValue; }

    friend bool operator==(const Name &a, const Name &b) { return a.m_rawValue == b.m_rawValue; }

private:
    QString m_rawValue;
    std::optional<Shortcut> m_defaultShortcut;
};

// The shortcut stored for `name`, if any.
std::optional<Shortcut> getShortcut(const Name &name);
// Stores a shortcut, or the cleared marker for nullopt.
void setShortcut(const std::optional<Shortcut> &shortcut, const Name &name);

// Appends `action` to the name's key-up actions and marks the name as
// registered. The actions run, in order, each time the shortcut's key is
// released (dispatched through handleKeyUp by the system-wide key grab).
void onKeyUp(const Name &name, std::function<void()> action);
bool isRegistered(const Name &name);
// Runs the key-up actions of `name`; false when it has none.
bool handleKeyUp(const QString &rawName);
// Drops every registered action (tests).
void removeAllHandlers();

// The settings the component reads and writes (the application's default
// settings unless replaced; not owned).
void setSettings(QSettings *settings);

} // namespace KeyboardShortcuts
