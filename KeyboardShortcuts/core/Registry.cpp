#include "KeyboardShortcuts/core/Registry.h"

#include <QPointer>
#include <QSet>
#include <QSettings>

namespace KeyboardShortcuts {

namespace {

template <typename Handler>
std::vector<Handler> &entry(std::vector<std::pair<Name, std::vector<Handler>>> &table, const Name &name)
{
    for (auto &[n, handlers] : table)
        if (n == name)
            return handlers;
    table.emplace_back(name, std::vector<Handler>{});
    return table.back().second;
}

std::optional<Shortcut> read(const Name &name)
{
    const QVariant value = QSettings().value(name.settingsKey());
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return Shortcut::fromJson(value.toString());
}

} // namespace

Registry::Registry(QObject *parent) : QObject(parent), m_layout(KeyboardLayout::fromSession()) {}

Registry::~Registry()
{
    // Streams that outlive the registry must not reach back into it.
    for (auto &[name, streams] : m_streams)
        for (EventStream *stream : streams)
            stream->m_registry = nullptr;
    if (m_backend)
        for (auto it = m_claims.cbegin(); it != m_claims.cend(); ++it)
            if (it.value())
                m_backend->ungrab(it.key());
    m_backend = nullptr;
}

// --- storage -----------------------------------------------------------------

// The first sight of a name reads its stored shortcut, storing the default
// when the key holds nothing at all: a cleared shortcut's false marker or an
// unreadable value keep the default out.
std::optional<Shortcut> Registry::adopt(const Name &name)
{
    if (const auto it = m_stored.constFind(name.rawValue()); it != m_stored.cend())
        return *it;
    m_stored.insert(name.rawValue(), read(name));
    if (name.defaultShortcut() && !userDefaultsContains(name))
        store(name, *name.defaultShortcut());
    return m_stored.value(name.rawValue());
}

std::optional<Shortcut> Registry::shortcut(const Name &name)
{
    return adopt(name);
}

bool Registry::userDefaultsContains(const Name &name) const
{
    return QSettings().contains(name.settingsKey());
}

void Registry::write(const Name &name, const QVariant &value, const std::optional<Shortcut> &shortcut)
{
    if (value.isValid())
        QSettings().setValue(name.settingsKey(), value);
    else
        QSettings().remove(name.settingsKey());
    m_stored.insert(name.rawValue(), shortcut);
}

void Registry::store(const Name &name, const Shortcut &shortcut)
{
    const std::optional<Shortcut> old = m_stored.value(name.rawValue());
    // Stored first so that the re-claim check sees the new value.
    write(name, shortcut.toJson(), shortcut);
    if (old)
        release(*old);
    claim(shortcut);
    Q_EMIT shortcutByNameDidChange(name);
}

void Registry::remove(const Name &name, const Shortcut &old, bool keepMarker)
{
    write(name, keepMarker ? QVariant(false) : QVariant(), std::nullopt);
    release(old);
    Q_EMIT shortcutByNameDidChange(name);
}

void Registry::setShortcut(const std::optional<Shortcut> &shortcut, const Name &name)
{
    const std::optional<Shortcut> old = adopt(name);
    if (shortcut)
        store(name, *shortcut);
    else if (old)
        remove(name, *old, name.defaultShortcut().has_value());
}

void Registry::reset(const QList<Name> &names)
{
    for (const Name &name : names) {
        const std::optional<Shortcut> old = adopt(name);
        if (name.defaultShortcut())
            store(name, *name.defaultShortcut());
        else if (old)
            remove(name, *old, false);
    }
}

// --- claims --------------------------------------------------------------------

template <typename Handler>
QSet<Shortcut> Registry::shortcutsOf(const Table<Handler> &table) const
{
    QSet<Shortcut> shortcuts;
    for (const auto &[name, handlers] : table)
        if (const std::optional<Shortcut> shortcut = m_stored.value(name.rawValue()))
            shortcuts.insert(*shortcut);
    return shortcuts;
}

QSet<Shortcut> Registry::shortcutsInUse() const
{
    return shortcutsOf(m_keyDownHandlers) + shortcutsOf(m_keyUpHandlers) + shortcutsOf(m_streams);
}

void Registry::claim(const Shortcut &shortcut)
{
    if (m_claims.contains(shortcut))
        return;
    if (!m_backend || !isServing()) {
        // Made when a backend is set or serving resumes.
        m_claims.insert(shortcut, false);
        return;
    }
    if (m_backend->grab(shortcut))
        m_claims.insert(shortcut, true);
}

void Registry::claimNamed(const Name &name)
{
    if (const std::optional<Shortcut> shortcut = adopt(name))
        claim(*shortcut);
}

void Registry::unclaim(const Shortcut &shortcut)
{
    const auto it = m_claims.constFind(shortcut);
    if (it == m_claims.cend())
        return;
    const bool held = it.value();
    m_claims.erase(it);
    if (held && m_backend)
        m_backend->ungrab(shortcut);
}

// A name gave up `shortcut`. Another name with handlers may still store the
// same combination; it must keep working, so the claim is made again.
void Registry::release(const Shortcut &shortcut)
{
    unclaim(shortcut);
    if (shortcutsInUse().contains(shortcut))
        claim(shortcut);
}

// Grabs every waiting claim while serving (a refused one is dropped), lets
// every grab go otherwise.
void Registry::updateClaims()
{
    if (!m_backend)
        return;
    const bool serving = isServing();
    for (auto it = m_claims.begin(); it != m_claims.end();) {
        if (!serving) {
            if (it.value())
                m_backend->ungrab(it.key());
            it.value() = false;
            ++it;
        } else if (!it.value() && !m_backend->grab(it.key())) {
            it = m_claims.erase(it);
        } else {
            it.value() = true;
            ++it;
        }
    }
}

void Registry::setBackend(HotKeyBackend *backend)
{
    for (bool &held : m_claims)
        held = false;
    m_backend = backend;
    updateClaims();
}

void Registry::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    updateClaims();
}

void Registry::setPaused(bool paused)
{
    if (m_paused == paused)
        return;
    m_paused = paused;
    updateClaims();
}

bool Registry::claimsUse(Qt::KeyboardModifiers modifiers) const
{
    for (auto it = m_claims.cbegin(); it != m_claims.cend(); ++it)
        if (it.key().modifiers() & modifiers)
            return true;
    return false;
}

bool Registry::isTakenBySystem(const Shortcut &shortcut)
{
    return m_backend && m_backend->isHeldElsewhere(shortcut);
}

// --- dispatch ------------------------------------------------------------------

void Registry::onKeyDown(const Name &name, Action action)
{
    entry(m_keyDownHandlers, name).push_back(std::move(action));
    claimNamed(name);
}

void Registry::onKeyUp(const Name &name, Action action)
{
    entry(m_keyUpHandlers, name).push_back(std::move(action));
    claimNamed(name);
}

void Registry::removeAllHandlers()
{
    const QSet<Shortcut> streamShortcuts = shortcutsOf(m_streams);
    const QSet<Shortcut> actionShortcuts = shortcutsOf(m_keyDownHandlers) + shortcutsOf(m_keyUpHandlers);
    for (const Shortcut &shortcut : actionShortcuts)
        if (!streamShortcuts.contains(shortcut))
            unclaim(shortcut);
    m_keyDownHandlers.clear();
    m_keyUpHandlers.clear();
}

void Registry::disable(const QList<Name> &names)
{
    for (const Name &name : names)
        if (const std::optional<Shortcut> shortcut = adopt(name))
            unclaim(*shortcut);
}

void Registry::enable(const QList<Name> &names)
{
    for (const Name &name : names)
        claimNamed(name);
}

bool Registry::handleHotKey(const Shortcut &shortcut, EventType type)
{
    if (!m_claims.contains(shortcut))
        return false;
    dispatch(shortcut, type);
    return true;
}

void Registry::dispatch(const Shortcut &shortcut, EventType type)
{
    if (m_paused)
        return;
    // Copies: an action may add handlers or end a stream.
    const Table<Action> actions = type == EventType::keyDown ? m_keyDownHandlers : m_keyUpHandlers;
    for (const auto &[name, handlers] : actions)
        if (m_stored.value(name.rawValue()) == shortcut)
            for (const Action &action : handlers)
                action();
    // Guarded: a receiver may end another stream.
    QList<QPointer<EventStream>> streams;
    for (const auto &[name, handlers] : m_streams)
        if (m_stored.value(name.rawValue()) == shortcut)
            for (EventStream *stream : handlers)
                streams << stream;
    for (const QPointer<EventStream> &stream : std::as_const(streams))
        if (stream && stream->wants(type))
            Q_EMIT stream->occurred(type);
}

// --- streams -------------------------------------------------------------------

std::unique_ptr<EventStream> Registry::events(const Name &name, std::optional<EventType> type)
{
    return std::unique_ptr<EventStream>(new EventStream(this, name, type));
}

void Registry::addStream(const Name &name, EventStream *stream)
{
    entry(m_streams, name).push_back(stream);
    claimNamed(name);
}

void Registry::removeStream(const Name &name, EventStream *stream)
{
    for (auto it = m_streams.begin(); it != m_streams.end(); ++it) {
        if (it->first != name)
            continue;
        std::erase(it->second, stream);
        // An emptied entry goes, so the last stream's end releases the key.
        if (it->second.empty())
            m_streams.erase(it);
        break;
    }
    if (const std::optional<Shortcut> shortcut = m_stored.value(name.rawValue()))
        if (!shortcutsInUse().contains(*shortcut))
            unclaim(*shortcut);
}

EventStream::EventStream(Registry *registry, const Name &name, std::optional<EventType> filter)
    : m_registry(registry), m_name(name), m_filter(filter)
{
    m_registry->addStream(m_name, this);
}

EventStream::~EventStream()
{
    if (m_registry)
        m_registry->removeStream(m_name, this);
}

// --- display -------------------------------------------------------------------

void Registry::setLayout(std::shared_ptr<const KeyboardLayout> layout)
{
    m_layout = std::move(layout);
    Q_EMIT layoutChanged();
}

} // namespace KeyboardShortcuts
