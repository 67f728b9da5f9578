#pragma once

#include "KeyboardShortcuts/core/KeyboardLayout.h"
#include "KeyboardShortcuts/core/Name.h"

#include <QKeySequence>
#include <QList>

#include <optional>

class QAction;

namespace KeyboardShortcuts {

class Registry;

// The key sequence that binds a shortcut (the keyboard layout decides its
// key); empty when the key has no text.
QKeySequence keySequence(const Shortcut &shortcut, const KeyboardLayout *layout);

// Gives the action the shortcut, or none.
void applyShortcut(QAction *action, const std::optional<Shortcut> &shortcut, const KeyboardLayout *layout);
// Makes the action show and follow the shortcut stored for `name` (and
// the registry's layout); none stops following and clears it. `registry`
// must outlive the action's following.
void setShortcut(QAction *action, Registry *registry, const std::optional<Name> &name);

// The first action, depth first through submenus, bound to the shortcut.
QAction *actionWithMatchingShortcut(const Shortcut &shortcut, const QList<QAction *> &actions,
                                    const KeyboardLayout *layout);

} // namespace KeyboardShortcuts
