#pragma once

#include "KeyboardShortcuts/core/HotKeyBackend.h"
#include "KeyboardShortcuts/core/KeyboardLayout.h"
#include "KeyboardShortcuts/core/Name.h"
#include "KeyboardShortcuts/core/Shortcut.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace KeyboardShortcuts {

class EventStream;

// The global shortcuts of one application: each name's stored shortcut,
// the actions and streams attached to names, the combinations claimed
// system-wide and the keyboard layout that names their keys. The
// application makes one and hands it to what needs it.
//
// A shortcut lives in the application's settings under
// "KeyboardShortcuts_<name>" as the JSON text of
// {"carbonKeyCode":..,"carbonModifiers":..}; the value false marks a cleared
// shortcut that has a default. The first time a name reaches the registry,
// its default is stored when nothing of any kind is stored under it yet.
// Each name's shortcut is read then and kept until the registry writes it,
// so a key press reads no settings. Every write keeps the system-wide claim
// in step and announces the change. Failures are silent (an unreadable
// value is no shortcut, a refused claim is not reported). Main thread only.
class Registry final : public QObject
{
    Q_OBJECT

public:
    using Action = std::function<void()>;

    // Starts with the layout the session names (KeyboardLayout::fromSession)
    // and no backend.
    explicit Registry(QObject *parent = nullptr);
    ~Registry() override;

    // --- storage -----------------------------------------------------------

    std::optional<Shortcut> shortcut(const Name &name);
    // Any value at all counts, the false marker included.
    bool userDefaultsContains(const Name &name) const;
    // Stores (and claims) a shortcut; nullopt clears it: the false marker
    // when the name has a default, no value otherwise.
    void setShortcut(const std::optional<Shortcut> &shortcut, const Name &name);
    // Puts each name back to its default.
    void reset(const QList<Name> &names);

    // --- dispatch ----------------------------------------------------------

    // Appends an action and claims the name's shortcut if no one has.
    void onKeyDown(const Name &name, Action action);
    void onKeyUp(const Name &name, Action action);
    // Drops every action; shortcuts only actions used are released.
    void removeAllHandlers();
    // Releases the names' shortcuts, keeping their actions for enable().
    void disable(const QList<Name> &names);
    void enable(const QList<Name> &names);

    // While paused (a recorder is recording) nothing is dispatched and the
    // claims are let go, so that the recorder receives the keys.
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }

    // The name's presses and releases (of one kind, when given) for as long
    // as the stream lives; ending it releases the shortcut when nothing
    // else uses it. The stream must not outlive the registry.
    std::unique_ptr<EventStream> events(const Name &name, std::optional<EventType> type = std::nullopt);

    // --- system-wide claims --------------------------------------------------

    // The window system's side (not owned; none in a Wayland session).
    // Claims made without one are made when one is set.
    void setBackend(HotKeyBackend *backend);
    HotKeyBackend *backend() const { return m_backend; }

    // Off: nothing is claimed and no key is served, not even while the
    // app's own menu holds the keyboard. Claims come back when on again.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    // Enabled and not paused: presses are served.
    bool isServing() const { return m_enabled && !m_paused; }

    // Whether a stored name's shortcut is claimed (or waits to be).
    bool isRegistered(const Shortcut &shortcut) const { return m_claims.contains(shortcut); }
    bool hasClaims() const { return !m_claims.isEmpty(); }
    // Whether a claimed shortcut includes any of `modifiers`.
    bool claimsUse(Qt::KeyboardModifiers modifiers) const;

    // A press or release of a claimed combination: runs the actions, then
    // the streams, of every name that stores it; false when none is claimed.
    bool handleHotKey(const Shortcut &shortcut, EventType type);

    // Whether another program holds the combination (the recorder's check
    // for shortcuts the system uses).
    bool isTakenBySystem(const Shortcut &shortcut);

    // --- display -------------------------------------------------------------

    const KeyboardLayout *layout() const { return m_layout.get(); }
    void setLayout(std::shared_ptr<const KeyboardLayout> layout);

Q_SIGNALS:
    void shortcutByNameDidChange(const KeyboardShortcuts::Name &name);
    void layoutChanged();

private:
    friend class EventStream;

    template <typename Handler>
    using Table = std::vector<std::pair<Name, std::vector<Handler>>>;

    std::optional<Shortcut> adopt(const Name &name);
    void write(const Name &name, const QVariant &value, const std::optional<Shortcut> &shortcut);
    void store(const Name &name, const Shortcut &shortcut);
    void remove(const Name &name, const Shortcut &old, bool keepMarker);
    template <typename Handler>
    QSet<Shortcut> shortcutsOf(const Table<Handler> &table) const;
    QSet<Shortcut> shortcutsInUse() const;
    void claim(const Shortcut &shortcut);
    void claimNamed(const Name &name);
    void unclaim(const Shortcut &shortcut);
    void release(const Shortcut &shortcut);
    void updateClaims();
    void dispatch(const Shortcut &shortcut, EventType type);
    void addStream(const Name &name, EventStream *stream);
    void removeStream(const Name &name, EventStream *stream);

    // Each adopted name's stored shortcut, by raw value.
    QHash<QString, std::optional<Shortcut>> m_stored;
    Table<Action> m_keyDownHandlers;
    Table<Action> m_keyUpHandlers;
    Table<EventStream *> m_streams;
    // Every combination a name asked for, and whether the backend holds it
    // now (false while disabled, paused or without a backend).
    QHash<Shortcut, bool> m_claims;
    HotKeyBackend *m_backend = nullptr;
    bool m_enabled = true;
    bool m_paused = false;
    std::shared_ptr<const KeyboardLayout> m_layout;
};

// A name's presses and releases, from Registry::events().
class EventStream final : public QObject
{
    Q_OBJECT

public:
    ~EventStream() override;

    bool wants(EventType type) const { return !m_filter || *m_filter == type; }

Q_SIGNALS:
    void occurred(KeyboardShortcuts::EventType type);

private:
    friend class Registry;
    EventStream(Registry *registry, const Name &name, std::optional<EventType> filter);

    Registry *m_registry;
    Name m_name;
    std::optional<EventType> m_filter;
};

} // namespace KeyboardShortcuts
