#include "KeyboardShortcuts/core/KeyboardLayout.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <xkbcommon/xkbcommon.h>

namespace KeyboardShortcuts {

namespace {

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

std::unique_ptr<KeyboardLayout> KeyboardLayout::fromNames(const QString &layout, const QString &variant,
                                                          const QString &model, const QString &options)
{
    // The names are exactly the ones given: no XKB_DEFAULT_* variable fills
    // in what is left empty.
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context)
        return nullptr;
    // An unknown name is a normal answer here (the caller falls back).
    xkb_context_set_log_level(context, XKB_LOG_LEVEL_CRITICAL);
    const QByteArray names[] = {layout.toUtf8(), variant.toUtf8(), model.toUtf8(), options.toUtf8()};
    const auto field = [](const QByteArray &name) { return name.isEmpty() ? nullptr : name.constData(); };
    xkb_rule_names rules{};
    rules.layout = field(names[0]);
    rules.variant = field(names[1]);
    rules.model = field(names[2]);
    rules.options = field(names[3]);
    xkb_keymap *keymap = xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    return keymap ? std::make_unique<KeyboardLayout>(keymap) : nullptr;
}

namespace {

// The shell-style assignments of the keyboard file (XKBLAYOUT="de").
QHash<QString, QString> readKeyboardFile(const QString &path)
{
    QHash<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return values;
    static const QRegularExpression assignment(QStringLiteral(R"(^\s*(XKB\w+)\s*=\s*(["']?)([^"'#]*)\2)"));
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine(4096));
        if (const QRegularExpressionMatch match = assignment.match(line); match.hasMatch())
            values.insert(match.captured(1), match.captured(3).trimmed());
    }
    return values;
}

} // namespace

std::unique_ptr<KeyboardLayout> KeyboardLayout::fromSession(const QString &keyboardFile)
{
    std::unique_ptr<KeyboardLayout> layout;
    if (const QString name = qEnvironmentVariable("XKB_DEFAULT_LAYOUT"); !name.isEmpty())
        layout =
            fromNames(name, qEnvironmentVariable("XKB_DEFAULT_VARIANT"),
                      qEnvironmentVariable("XKB_DEFAULT_MODEL"), qEnvironmentVariable("XKB_DEFAULT_OPTIONS"));
    if (!layout) {
        const QHash<QString, QString> file = readKeyboardFile(keyboardFile);
        if (const QString name = file.value(QStringLiteral("XKBLAYOUT")); !name.isEmpty())
            layout =
                fromNames(name, file.value(QStringLiteral("XKBVARIANT")),
                          file.value(QStringLiteral("XKBMODEL")), file.value(QStringLiteral("XKBOPTIONS")));
    }
    return layout ? std::move(layout) : fromNames(QStringLiteral("us"));
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

QString KeyboardLayout::symbolName(int xKeyCode) const
{
    const xkb_keysym_t *syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(m_keymap, xKeyCode, 0, 0, &syms) < 1 || syms[0] == XKB_KEY_NoSymbol)
        return {};
    char name[64];
    if (xkb_keysym_get_name(syms[0], name, sizeof name) <= 0)
        return {};
    return QString::fromLatin1(name);
}

} // namespace KeyboardShortcuts
