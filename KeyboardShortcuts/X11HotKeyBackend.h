#pragma once

#include "KeyboardShortcuts/core/HotKeyBackend.h"
#include "KeyboardShortcuts/core/Registry.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct xcb_connection_t;
class QSocketNotifier;

namespace KeyboardShortcuts {

// System-wide hot keys as passive key grabs on the root window, on a
// connection of its own. Each combination is grabbed with every lock-key
// variant (Caps Lock, Num Lock), a held key fires once (the server's
// detectable autorepeat), and a release is delivered for the combination
// that was pressed even when its modifiers went up first.
class X11HotKeyBackend final : public QObject, public HotKeyBackend
{
    Q_OBJECT

public:
    // Delivers presses to `registry` and gives it the server's keyboard
    // layout (whenever that changes). None when the display cannot be
    // reached.
    static std::unique_ptr<X11HotKeyBackend> open(Registry *registry, const char *display = nullptr);
    ~X11HotKeyBackend() override;

    bool grab(const Shortcut &shortcut) override;
    void ungrab(const Shortcut &shortcut) override;
    bool isHeldElsewhere(const Shortcut &shortcut) override;

    // The combination of an X key code and modifier state, as key events
    // carry them; none for a key the stored codes cannot name.
    std::optional<Shortcut> shortcutFor(int xKeyCode, unsigned int xState) const;

    // The one record of held keys, for the grabs and for the app's own menu
    // alike. A press of a claimed combination is delivered once however long
    // the key is held; its release is delivered as the combination pressed.
    // Each returns whether the key was one of the registry's.
    bool pressKey(int xKeyCode, unsigned int xState);
    bool releaseKey(int xKeyCode);
    bool isHeld(int xKeyCode) const { return m_down.contains(xKeyCode); }

    Registry *registry() const { return m_registry; }

private:
    X11HotKeyBackend(Registry *registry, xcb_connection_t *connection);
    void readKeyboard();
    void processEvents();
    void handle(const void *event);
    // Grabs every lock variant; false (and nothing held) on refusal.
    bool grabVariants(int keyCode, uint16_t modifiers);
    void ungrabVariants(int keyCode, uint16_t modifiers);
    std::vector<uint16_t> lockVariants() const;
    std::optional<std::pair<int, uint16_t>> combination(const Shortcut &shortcut) const;

    // Cleared when the registry that owns the backend begins to go.
    QPointer<Registry> m_registry;
    xcb_connection_t *m_connection;
    uint32_t m_root = 0;
    uint8_t m_xkbEvent = 0;
    QSocketNotifier *m_notifier = nullptr;
    uint16_t m_alt = 0;
    uint16_t m_meta = 0;
    uint16_t m_numLock = 0;
    QSet<Shortcut> m_grabbed;
    QHash<int, Shortcut> m_down;
};

// Sets up system-wide hot keys for the registry, once: the X11 backend (a
// child of the registry), the keyboard layout for display text, and the
// filter that serves the shortcuts while the app's own menu or popup holds
// the keyboard. Nothing in a Wayland session or when Qt runs without X11
// (offscreen, minimal); returns whether hot keys work.
bool installSystemHotKeys(Registry *registry);

} // namespace KeyboardShortcuts
