#pragma once

#include "KeyboardShortcuts/core/Key.h"
#include "KeyboardShortcuts/core/Name.h"
#include "KeyboardShortcuts/core/Shortcut.h"

#include <QObject>

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>

class QSettings;

// User-recordable global shortcuts stored per name. A shortcut lives in the
// application's settings under "KeyboardShortcuts_<name>" as the JSON text of
// {"carbonKeyCode":..,"carbonModifiers":..}; the value false marks a cleared
// shortcut that has a default. Every write keeps the system-wide claim in
// step and announces the change. State is process-wide; failures are
// silent (an unreadable value is no shortcut). Main thread only.
namespace KeyboardShortcuts {

// Carries the change notice of a name's stored shortcut.
class Notifier final : public QObject
{
    Q_OBJECT

Q_SIGNALS:
    void shortcutByNameDidChange(const KeyboardShortcuts::Name &name);
};
Notifier *notifier();

// --- storage -------------------------------------------------------------

std::optional<Shortcut> getShortcut(const Name &name);
// Any value at all counts, the false marker included.
bool userDefaultsContains(const Name &name);
// Stores (and claims) a shortcut; nullopt clears it: the false marker when
// the name has a default, no value otherwise.
void setShortcut(const std::optional<Shortcut> &shortcut, const Name &name);
// Puts each name back to its default.
void reset(std::initializer_list<Name> names);
void reset(const QList<Name> &names);

// The settings the component reads and writes (the application's default
// settings unless replaced; not owned).
void setSettings(QSettings *settings);

// --- dispatch --------------------------------------------------------------

using Action = std::function<void()>;

// Appends an action and claims the name's stored shortcut if no one has.
void onKeyDown(const Name &name, Action action);
void onKeyUp(const Name &name, Action action);
// Drops every action; shortcuts only actions used are released.
void removeAllHandlers();
// Releases the names' shortcuts, keeping their actions for enable().
void disable(const QList<Name> &names);
void enable(const QList<Name> &names);

// While paused (a recorder is recording) nothing is dispatched, and the
// claims are released so that the recorder receives the keys.
void setPaused(bool paused);
bool isPaused();

// Runs the actions, then the streams, of every name that stores `shortcut`.
void handleOnKeyDown(const Shortcut &shortcut);
void handleOnKeyUp(const Shortcut &shortcut);

// A name's presses and releases for as long as the object lives; ending it
// releases the shortcut when nothing else uses it.
class EventStream final : public QObject
{
    Q_OBJECT

public:
    ~EventStream() override;

    bool wants(EventType type) const { return !m_filter || *m_filter == type; }

Q_SIGNALS:
    void occurred(KeyboardShortcuts::EventType type);

private:
    friend std::unique_ptr<EventStream> events(const Name &name);
    friend std::unique_ptr<EventStream> events(EventType type, const Name &name);
    EventStream(const Name &name, std::optional<EventType> filter);

    Name m_name;
    std::optional<EventType> m_filter;
};

std::unique_ptr<EventStream> events(const Name &name);
std::unique_ptr<EventStream> events(EventType type, const Name &name);

// Global shortcuts never reach the app in a Wayland session, even through
// XWayland, so nothing is registered there.
bool isWaylandSession();

// Clears every handler, stream and record and unpauses (tests).
void resetForTesting();

} // namespace KeyboardShortcuts
