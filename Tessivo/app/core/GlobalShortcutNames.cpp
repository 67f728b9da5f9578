#include "app/core/GlobalShortcutNames.h"

namespace GlobalShortcutNames {

using namespace KeyboardShortcuts;

const Name &newDocumentAnywhere()
{
    static const Name name(QStringLiteral("newDocumentAnywhere"), Shortcut(Key::n(), control | option));
    return name;
}

const Name &toggleWindow()
{
    static const Name name(QStringLiteral("toggleWindow"), Shortcut(Key::m(), control | option));
    return name;
}

} // namespace GlobalShortcutNames
