#pragma once

#include "KeyboardShortcuts/core/Name.h"

#include <QKeySequence>
#include <QList>

#include <optional>

class QAction;

namespace KeyboardShortcuts {

// The key sequence that binds a shortcut (the keyboard layout decides its
// key); empty when the key has no text.
QKeySequence keySequence(const Shortcut &shortcut);

// Gives the action the shortcut, or none.
void applyShortcut(QAction *action, const std::optional<Shortcut> &shortcut);
// Makes the action show and follow the shortcut stored for `name`; none
// stops following and clears it.
void setShortcut(QAction *action, const std::optional<Name> &name);

// The first action, depth first through submenus, bound to the shortcut.
QAction *actionWithMatchingShortcut(const Shortcut &shortcut, const QList<QAction *> &actions);

} // namespace KeyboardShortcuts
