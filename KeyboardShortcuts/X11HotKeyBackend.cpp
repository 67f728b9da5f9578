#include "KeyboardShortcuts/X11HotKeyBackend.h"

#include "KeyboardShortcuts/core/KeyCodes.h"
#include "KeyboardShortcuts/core/KeyboardLayout.h"
#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

#include <QApplication>
#include <QKeyEvent>
#include <QSocketNotifier>
#include <QWidget>

#include <xcb/xcb.h>
// The XKB protocol header names a member "explicit".
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <vector>

namespace KeyboardShortcuts {

namespace {

constexpr uint16_t lockMask = XCB_MOD_MASK_LOCK;

// While the app's own menu or popup holds the keyboard the passive grabs
// cannot fire, so the keys reach the app: serve the shortcuts from here.
// Only while the registry serves (enabled, no recorder recording), and only
// keys that make a claimed combination: everything else reaches the menu.
class MenuKeyFilter final : public QObject
{
public:
    explicit MenuKeyFilter(X11HotKeyBackend *backend) : QObject(backend), m_backend(backend) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool press = event->type() == QEvent::KeyPress;
        if (m_replaying || (!press && event->type() != QEvent::KeyRelease))
            return false;
        Registry *registry = m_backend->registry();
        if (!registry || !registry->isServing() ||
            (!QApplication::activePopupWidget() && !QWidget::keyboardGrabber())) {
            m_heldBack.clear();
            return false;
        }
        auto *key = static_cast<QKeyEvent *>(event);
        if (const Qt::KeyboardModifiers modifier = modifierOf(key->key())) {
            // A menu closes when Alt goes down, which would end it before the
            // rest of a combination arrives: a modifier that a claimed
            // combination uses is held back until the next key tells.
            if (!press) {
                replayHeldBack();
                return false;
            }
            if (key->isAutoRepeat() && !m_heldBack.empty())
                return true;
            if (!registry->claimsUse(modifier))
                return false;
            m_heldBack.push_back({watched, std::unique_ptr<QKeyEvent>(key->clone())});
            return true;
        }
        const int code = static_cast<int>(key->nativeScanCode());
        if (!press)
            return key->isAutoRepeat() ? m_backend->isHeld(code) : m_backend->releaseKey(code);
        if (m_backend->pressKey(code, key->nativeModifiers())) {
            m_heldBack.clear();
            return true;
        }
        replayHeldBack();
        return false;
    }

private:
    static Qt::KeyboardModifiers modifierOf(int key)
    {
        switch (key) {
        case Qt::Key_Alt:
            return Qt::AltModifier;
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
            return Qt::MetaModifier;
        default:
            return {};
        }
    }

    // The presses held back were no shortcut's after all: they go where
    // they were going, in order.
    void replayHeldBack()
    {
        std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QKeyEvent>>> heldBack;
        heldBack.swap(m_heldBack);
        m_replaying = true;
        for (auto &[receiver, event] : heldBack)
            if (receiver)
                QCoreApplication::sendEvent(receiver, event.get());
        m_replaying = false;
    }

    X11HotKeyBackend *m_backend;
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QKeyEvent>>> m_heldBack;
    bool m_replaying = false;
};

} // namespace

std::unique_ptr<X11HotKeyBackend> X11HotKeyBackend::open(Registry *registry, const char *display)
{
    xcb_connection_t *connection = xcb_connect(display, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11HotKeyBackend>(new X11HotKeyBackend(registry, connection));
}

X11HotKeyBackend::X11HotKeyBackend(Registry *registry, xcb_connection_t *connection)
    : m_registry(registry), m_connection(connection)
{
    m_root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    uint8_t baseEvent = 0;
    if (xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &baseEvent,
                                    nullptr)) {
        m_xkbEvent = baseEvent;
        // A held key then repeats its press without releases in between.
        const uint32_t repeat = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
        free(xcb_xkb_per_client_flags_reply(
            connection,
            xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, repeat, repeat, 0, 0, 0), nullptr));
        const uint16_t changes = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
        xcb_xkb_select_events(connection, XCB_XKB_ID_USE_CORE_KBD, changes, 0, changes, 0xff, 0xff, nullptr);
    }
    readKeyboard();
    xcb_flush(connection);
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11HotKeyBackend::processEvents);
}

X11HotKeyBackend::~X11HotKeyBackend()
{
    if (m_registry && m_registry->backend() == this)
        m_registry->setBackend(nullptr);
    for (const Shortcut &shortcut : std::as_const(m_grabbed))
        if (const auto c = combination(shortcut))
            ungrabVariants(c->first, c->second);
    xcb_flush(m_connection);
    xcb_disconnect(m_connection);
}

// The layout for display text, and which modifier bits Alt, Super and Num
// Lock are on (read from the modifier map, as they differ between setups).
void X11HotKeyBackend::readKeyboard()
{
    std::shared_ptr<KeyboardLayout> layout;
    if (m_xkbEvent) {
        xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        const int32_t device = xkb_x11_get_core_keyboard_device_id(m_connection);
        if (xkb_keymap *keymap = context && device >= 0
                                     ? xkb_x11_keymap_new_from_device(context, m_connection, device,
                                                                      XKB_KEYMAP_COMPILE_NO_FLAGS)
                                     : nullptr)
            layout = std::make_shared<KeyboardLayout>(keymap);
        xkb_context_unref(context);
    }
    if (layout && m_registry)
        m_registry->setLayout(layout);

    m_alt = XCB_MOD_MASK_1;
    m_meta = XCB_MOD_MASK_4;
    m_numLock = 0;
    xcb_get_modifier_mapping_reply_t *map =
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const int firstCode = setup->min_keycode;
    xcb_get_keyboard_mapping_reply_t *keys = xcb_get_keyboard_mapping_reply(
        m_connection,
        xcb_get_keyboard_mapping(m_connection, setup->min_keycode, setup->max_keycode - firstCode + 1),
        nullptr);
    if (map && keys) {
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(map);
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(keys);
        const int perCode = keys->keysyms_per_keycode;
        const int symCount = xcb_get_keyboard_mapping_keysyms_length(keys);
        uint16_t alt = 0, meta = 0;
        for (int mod = 0; mod < 8; ++mod) {
            for (int i = 0; i < map->keycodes_per_modifier; ++i) {
                const int code = codes[mod * map->keycodes_per_modifier + i];
                const int index = (code - firstCode) * perCode;
                if (code == 0 || index < 0 || index >= symCount)
                    continue;
                const xcb_keysym_t sym = syms[index];
                if (sym == XKB_KEY_Num_Lock)
                    m_numLock |= uint16_t(1u << mod);
                else if (mod >= 3 && (sym == XKB_KEY_Alt_L || sym == XKB_KEY_Alt_R))
                    alt |= uint16_t(1u << mod);
                else if (mod >= 3 && (sym == XKB_KEY_Super_L || sym == XKB_KEY_Super_R))
                    meta |= uint16_t(1u << mod);
            }
        }
        if (alt)
            m_alt = alt;
        if (meta)
            m_meta = meta;
    }
    free(map);
    free(keys);
}

std::optional<std::pair<int, uint16_t>> X11HotKeyBackend::combination(const Shortcut &shortcut) const
{
    const std::optional<int> code = xKeyCode(shortcut.carbonKeyCode);
    if (!code)
        return std::nullopt;
    const Qt::KeyboardModifiers modifiers = shortcut.modifiers();
    uint16_t mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier)
        mask |= m_alt;
    if (modifiers & Qt::MetaModifier)
        mask |= m_meta;
    return std::pair{*code, mask};
}

std::optional<Shortcut> X11HotKeyBackend::shortcutFor(int xKeyCode, unsigned int xState) const
{
    const std::optional<qint64> code = keyCodeForXKeyCode(xKeyCode);
    if (!code)
        return std::nullopt;
    Qt::KeyboardModifiers modifiers;
    if (xState & XCB_MOD_MASK_SHIFT)
        modifiers |= Qt::ShiftModifier;
    if (xState & XCB_MOD_MASK_CONTROL)
        modifiers |= Qt::ControlModifier;
    if (xState & m_alt)
        modifiers |= Qt::AltModifier;
    if (xState & m_meta)
        modifiers |= Qt::MetaModifier;
    return Shortcut(Key{*code}, modifiers);
}

std::vector<uint16_t> X11HotKeyBackend::lockVariants() const
{
    std::vector<uint16_t> variants{0, lockMask};
    if (m_numLock) {
        variants.push_back(m_numLock);
        variants.push_back(lockMask | m_numLock);
    }
    return variants;
}

bool X11HotKeyBackend::grabVariants(int keyCode, uint16_t modifiers)
{
    std::vector<xcb_void_cookie_t> cookies;
    for (const uint16_t lock : lockVariants()) {
        cookies.push_back(xcb_grab_key_checked(m_connection, 0, m_root, modifiers | lock,
                                               xcb_keycode_t(keyCode), XCB_GRAB_MODE_ASYNC,
                                               XCB_GRAB_MODE_ASYNC));
    }
    bool granted = true;
    for (const xcb_void_cookie_t cookie : cookies) {
        if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookie)) {
            granted = false; // BadAccess: another client holds it
            free(error);
        }
    }
    if (!granted)
        ungrabVariants(keyCode, modifiers);
    // Replies were read; events may have queued behind them.
    QMetaObject::invokeMethod(this, &X11HotKeyBackend::processEvents, Qt::QueuedConnection);
    return granted;
}

void X11HotKeyBackend::ungrabVariants(int keyCode, uint16_t modifiers)
{
    for (const uint16_t lock : lockVariants())
        xcb_ungrab_key(m_connection, xcb_keycode_t(keyCode), m_root, modifiers | lock);
    xcb_flush(m_connection);
}

bool X11HotKeyBackend::grab(const Shortcut &shortcut)
{
    const auto c = combination(shortcut);
    if (!c || !grabVariants(c->first, c->second))
        return false;
    m_grabbed.insert(shortcut);
    return true;
}

void X11HotKeyBackend::ungrab(const Shortcut &shortcut)
{
    if (!m_grabbed.remove(shortcut))
        return;
    if (const auto c = combination(shortcut))
        ungrabVariants(c->first, c->second);
}

bool X11HotKeyBackend::isHeldElsewhere(const Shortcut &shortcut)
{
    if (m_grabbed.contains(shortcut))
        return false;
    const auto c = combination(shortcut);
    if (!c)
        return false;
    if (!grabVariants(c->first, c->second))
        return true;
    ungrabVariants(c->first, c->second);
    return false;
}

void X11HotKeyBackend::processEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        handle(event);
        free(event);
    }
    if (xcb_connection_has_error(m_connection))
        m_notifier->setEnabled(false);
}

void X11HotKeyBackend::handle(const void *generic)
{
    const auto *event = static_cast<const xcb_generic_event_t *>(generic);
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_KEY_PRESS) {
        const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
        pressKey(key->detail, key->state);
    } else if (type == XCB_KEY_RELEASE) {
        releaseKey(reinterpret_cast<const xcb_key_release_event_t *>(event)->detail);
    } else if (m_xkbEvent && type == m_xkbEvent) {
        readKeyboard();
    }
}

bool X11HotKeyBackend::pressKey(int xKeyCode, unsigned int xState)
{
    if (m_down.contains(xKeyCode))
        return true; // autorepeat
    const std::optional<Shortcut> shortcut = shortcutFor(xKeyCode, xState);
    if (!m_registry || !shortcut || !m_registry->isRegistered(*shortcut))
        return false;
    m_down.insert(xKeyCode, *shortcut);
    return m_registry->handleHotKey(*shortcut, EventType::keyDown);
}

bool X11HotKeyBackend::releaseKey(int xKeyCode)
{
    const auto it = m_down.constFind(xKeyCode);
    if (it == m_down.cend())
        return false;
    const Shortcut shortcut = *it;
    m_down.erase(it);
    if (m_registry)
        m_registry->handleHotKey(shortcut, EventType::keyUp);
    return true;
}

bool installSystemHotKeys(Registry *registry)
{
    if (registry->backend())
        return true;
    if (isWaylandSession() || QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    std::unique_ptr<X11HotKeyBackend> backend = X11HotKeyBackend::open(registry);
    if (!backend)
        return false;
    X11HotKeyBackend *raw = backend.release();
    // Destroyed with the registry, which lets go of every grab.
    raw->setParent(registry);
    registry->setBackend(raw);
    qApp->installEventFilter(new MenuKeyFilter(raw));
    return true;
}

} // namespace KeyboardShortcuts
