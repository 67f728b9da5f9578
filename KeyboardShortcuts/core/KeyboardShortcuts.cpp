#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

#include "KeyboardShortcuts/core/HotKeys.h"

#include <QPointer>
#include <QSet>
#include <QSettings>

#include <vector>

namespace KeyboardShortcuts {

namespace {

template <typename Handler>
using Table = std::vector<std::pair<Name, std::vector<Handler>>>;

struct State
{
    QSettings *settingsOverride = nullptr;
    std::unique_ptr<QSettings> ownSettings;
    QSet<Shortcut> registeredShortcuts;
    Table<Action> keyDownHandlers;
    Table<Action> keyUpHandlers;
    Table<EventStream *> streams;
    bool paused = false;
};

State &state()
{
    static State s;
    return s;
}

QSettings &settings()
{
    if (QSettings *s = state().settingsOverride)
        return *s;
    if (!state().ownSettings)
        state().ownSettings = std::make_unique<QSettings>();
    return *state().ownSettings;
}

template <typename Handler>
std::vector<Handler> &entry(Table<Handler> &table, const Name &name)
{
    for (auto &[n, handlers] : table)
        if (n == name)
            return handlers;
    table.emplace_back(name, std::vector<Handler>{});
    return table.back().second;
}

// The readable stored shortcuts of the names that have an entry.
template <typename Handler>
QSet<Shortcut> shortcutsOf(const Table<Handler> &table)
{
    QSet<Shortcut> shortcuts;
    for (const auto &[name, handlers] : table)
        if (const std::optional<Shortcut> shortcut = getShortcut(name))
            shortcuts.insert(*shortcut);
    return shortcuts;
}

QSet<Shortcut> shortcutsInUse()
{
    return shortcutsOf(state().keyDownHandlers) + shortcutsOf(state().keyUpHandlers) +
           shortcutsOf(state().streams);
}

void registerShortcut(const Shortcut &shortcut)
{
    if (state().registeredShortcuts.contains(shortcut))
        return;
    HotKeys::registerShortcut(shortcut, handleOnKeyDown, handleOnKeyUp);
    state().registeredShortcuts.insert(shortcut);
}

void registerShortcut(const Name &name)
{
    if (const std::optional<Shortcut> shortcut = getShortcut(name))
        registerShortcut(*shortcut);
}

void unregisterShortcut(const Shortcut &shortcut)
{
    HotKeys::unregisterShortcut(shortcut);
    state().registeredShortcuts.remove(shortcut);
}

// A name gave up `shortcut`. Another name with handlers may still store the
// same combination; it must keep working, so the claim is made again.
void release(const Shortcut &shortcut)
{
    unregisterShortcut(shortcut);
    if (shortcutsInUse().contains(shortcut))
        registerShortcut(shortcut);
}

void postChange(const Name &name)
{
    Q_EMIT notifier()->shortcutByNameDidChange(name);
}

void store(const Name &name, const Shortcut &shortcut)
{
    const QString json = shortcut.toJson();
    if (const std::optional<Shortcut> old = getShortcut(name)) {
        // Stored first so that the re-claim check sees the new value.
        settings().setValue(name.settingsKey(), json);
        release(*old);
    }
    registerShortcut(shortcut);
    settings().setValue(name.settingsKey(), json);
    postChange(name);
}

void dispatch(const Shortcut &shortcut, EventType type)
{
    if (state().paused)
        return;
    // Copies: an action may add handlers or end a stream.
    const Table<Action> actions =
        type == EventType::keyDown ? state().keyDownHandlers : state().keyUpHandlers;
    for (const auto &[name, handlers] : actions)
        if (getShortcut(name) == shortcut)
            for (const Action &action : handlers)
                action();
    // Guarded: a receiver may end another stream.
    QList<QPointer<EventStream>> streams;
    for (const auto &[name, handlers] : state().streams)
        if (getShortcut(name) == shortcut)
            for (EventStream *stream : handlers)
                streams << stream;
    for (const QPointer<EventStream> &stream : std::as_const(streams))
        if (stream && stream->wants(type))
            Q_EMIT stream->occurred(type);
}

} // namespace

Notifier *notifier()
{
    static Notifier instance;
    return &instance;
}

// --- Name ------------------------------------------------------------------

Name::Name(const QString &rawValue, const std::optional<Shortcut> &defaultShortcut)
    : m_rawValue(rawValue), m_defaultShortcut(defaultShortcut)
{
    if (defaultShortcut && !userDefaultsContains(*this))
        store(*this, *defaultShortcut);
}

std::optional<Shortcut> Name::shortcut() const
{
    return getShortcut(*this);
}

void Name::setShortcut(const std::optional<Shortcut> &shortcut) const
{
    KeyboardShortcuts::setShortcut(shortcut, *this);
}

// --- storage ---------------------------------------------------------------

std::optional<Shortcut> getShortcut(const Name &name)
{
    const QVariant value = settings().value(name.settingsKey());
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return Shortcut::fromJson(value.toString());
}

bool userDefaultsContains(const Name &name)
{
    return settings().contains(name.settingsKey());
}

void setShortcut(const std::optional<Shortcut> &shortcut, const Name &name)
{
    if (shortcut) {
        store(name, *shortcut);
        return;
    }
    const std::optional<Shortcut> old = getShortcut(name);
    if (!old)
        return;
    if (name.defaultShortcut())
        settings().setValue(name.settingsKey(), false);
    else
        settings().remove(name.settingsKey());
    release(*old);
    postChange(name);
}

void reset(std::initializer_list<Name> names)
{
    reset(QList<Name>(names));
}

void reset(const QList<Name> &names)
{
    for (const Name &name : names) {
        if (name.defaultShortcut()) {
            store(name, *name.defaultShortcut());
        } else if (const std::optional<Shortcut> old = getShortcut(name)) {
            settings().remove(name.settingsKey());
            release(*old);
            postChange(name);
        }
    }
}

void setSettings(QSettings *s)
{
    state().settingsOverride = s;
}

// --- dispatch --------------------------------------------------------------

void onKeyDown(const Name &name, Action action)
{
    entry(state().keyDownHandlers, name).push_back(std::move(action));
    registerShortcut(name);
}

void onKeyUp(const Name &name, Action action)
{
    entry(state().keyUpHandlers, name).push_back(std::move(action));
    registerShortcut(name);
}

void removeAllHandlers()
{
    const QSet<Shortcut> streamShortcuts = shortcutsOf(state().streams);
    const QSet<Shortcut> actionShortcuts =
        shortcutsOf(state().keyDownHandlers) + shortcutsOf(state().keyUpHandlers);
    for (const Shortcut &shortcut : actionShortcuts)
        if (!streamShortcuts.contains(shortcut))
            unregisterShortcut(shortcut);
    state().keyDownHandlers.clear();
    state().keyUpHandlers.clear();
}

void disable(const QList<Name> &names)
{
    for (const Name &name : names)
        if (const std::optional<Shortcut> shortcut = getShortcut(name))
            unregisterShortcut(*shortcut);
}

void enable(const QList<Name> &names)
{
    for (const Name &name : names)
        registerShortcut(name);
}

void setPaused(bool paused)
{
    state().paused = paused;
    HotKeys::setSuspended(paused);
}

bool isPaused()
{
    return state().paused;
}

void handleOnKeyDown(const Shortcut &shortcut)
{
    dispatch(shortcut, EventType::keyDown);
}

void handleOnKeyUp(const Shortcut &shortcut)
{
    dispatch(shortcut, EventType::keyUp);
}

// --- streams ---------------------------------------------------------------

EventStream::EventStream(const Name &name, std::optional<EventType> filter) : m_name(name), m_filter(filter)
{
    entry(state().streams, name).push_back(this);
    registerShortcut(name);
}

EventStream::~EventStream()
{
    auto &table = state().streams;
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (it->first != m_name)
            continue;
        std::erase(it->second, this);
        // An emptied entry goes, so the last stream's end releases the key.
        if (it->second.empty())
            table.erase(it);
        break;
    }
    if (const std::optional<Shortcut> shortcut = getShortcut(m_name))
        if (!shortcutsInUse().contains(*shortcut))
            unregisterShortcut(*shortcut);
}

std::unique_ptr<EventStream> events(const Name &name)
{
    return std::unique_ptr<EventStream>(new EventStream(name, std::nullopt));
}

std::unique_ptr<EventStream> events(EventType type, const Name &name)
{
    return std::unique_ptr<EventStream>(new EventStream(name, type));
}

bool isWaylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) ==
               0 ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

void resetForTesting()
{
    state().keyDownHandlers.clear();
    state().keyUpHandlers.clear();
    state().streams.clear();
    state().registeredShortcuts.clear();
    state().paused = false;
    HotKeys::reset();
}

} // namespace KeyboardShortcuts
