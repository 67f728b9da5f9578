#include "KeyboardShortcuts/core/KeyboardLayout.h"

#include <xkbcommon/xkbcommon.h>

namespace KeyboardShortcuts {

namespace {

std::shared_ptr<const KeyboardLayout> &currentLayout()
{
    static std::shared_ptr<const KeyboardLayout> layout;
    return layout;
}

char32_t deadKeyCharacter(xkb_keysym_t keysym)
{
    switch (keysym) {
    case XKB_KEY_dead_grave:
        return U'`';
    case XKB_KEY_dead_acute:
        return U'\u00B4';
    case XKB_KEY_dead_circumflex:
        return U'^';
    case XKB_KEY_dead_tilde:
        return U'~';
    case XKB_KEY_dead_diaeresis:
        return U'\u00A8';
    case XKB_KEY_dead_cedilla:
        return U'\u00B8';
    case XKB_KEY_dead_abovering:
        return U'\u02DA';
    case XKB_KEY_dead_caron:
        return U'\u02C7';
    default:
        return 0;
    }
}

std::optional<char32_t> characterIn(xkb_keymap *keymap, int xKeyCode, xkb_layout_index_t layout)
{
    const xkb_keysym_t *syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap, xKeyCode, layout, 0, &syms) < 1)
        return std::nullopt;
    if (const char32_t c = xkb_keysym_to_utf32(syms[0]); c >= 0x20 && c != 0x7F)
        return c;
    if (const char32_t c = deadKeyCharacter(syms[0]))
        return c;
    return std::nullopt;
}

} // namespace

KeyboardLayout::KeyboardLayout(xkb_keymap *keymap) : m_keymap(keymap) {}

KeyboardLayout::~KeyboardLayout()
{
    xkb_keymap_unref(m_keymap);
}

std::unique_ptr<KeyboardLayout> KeyboardLayout::fromNames(const QString &layout, const QString &variant)
{
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context)
        return nullptr;
    const QByteArray layoutName = layout.toUtf8();
    const QByteArray variantName = variant.toUtf8();
    xkb_rule_names names{};
    names.layout = layoutName.constData();
    names.variant = variant.isEmpty() ? nullptr : variantName.constData();
    xkb_keymap *keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    return keymap ? std::make_unique<KeyboardLayout>(keymap) : nullptr;
}

std::optional<QString> KeyboardLayout::character(int xKeyCode) const
{
    std::optional<char32_t> first;
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(m_keymap, xKeyCode);
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        const std::optional<char32_t> c = characterIn(m_keymap, xKeyCode, layout);
        if (c && *c < 0x80)
            return QString::fromUcs4(&*c, 1);
        if (!first)
            first = c;
    }
    if (!first)
        return std::nullopt;
    return QString::fromUcs4(&*first, 1);
}

const KeyboardLayout *KeyboardLayout::current()
{
    return currentLayout().get();
}

void KeyboardLayout::setCurrent(std::shared_ptr<const KeyboardLayout> layout)
{
    currentLayout() = std::move(layout);
}

} // namespace KeyboardShortcuts
