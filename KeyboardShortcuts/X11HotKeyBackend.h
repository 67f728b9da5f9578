#pragma once

#include "KeyboardShortcuts/core/HotKeyBackend.h"

#include <QHash>
#include <QObject>
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
    // None when the display cannot be reached.
    static std::unique_ptr<X11HotKeyBackend> open(const char *display = nullptr);
    ~X11HotKeyBackend() override;

    bool grab(const Shortcut &shortcut) override;
    void ungrab(const Shortcut &shortcut) override;
    bool isHeldElsewhere(const Shortcut &shortcut) override;

    // The combination of an X key code and modifier state, as key events
    // carry them; none for a key the stored codes cannot name.
    std::optional<Shortcut> shortcutFor(int xKeyCode, unsigned int xState) const;

private:
    explicit X11HotKeyBackend(xcb_connection_t *connection);
    void readKeyboard();
    void processEvents();
    void handle(const void *event);
    // Grabs every lock variant; false (and nothing held) on refusal.
    bool grabVariants(int keyCode, uint16_t modifiers);
    void ungrabVariants(int keyCode, uint16_t modifiers);
    std::vector<uint16_t> lockVariants() const;
    std::optional<std::pair<int, uint16_t>> combination(const Shortcut &shortcut) const;

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

// Sets up system-wide hot keys for the application, once: the X11 backend,
// the keyboard layout for display text, and the filter that serves the
// shortcuts while the app's own menu or popup holds the keyboard. Nothing in
// a Wayland session or when Qt runs without X11 (offscreen, minimal);
// returns whether hot keys work.
bool installSystemHotKeys();

} // namespace KeyboardShortcuts
