#include "KeyboardShortcuts/MenuItemShortcuts.h"

#include "KeyboardShortcuts/core/DisplayText.h"
#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

#include <QAction>
#include <QMenu>

namespace KeyboardShortcuts {

namespace {

const char followerName[] = "KeyboardShortcuts.follower";

} // namespace

QKeySequence keySequence(const Shortcut &shortcut, const KeyboardLayout *layout)
{
    const int key = qtKey(shortcut, layout);
    if (!key)
        return {};
    return QKeySequence(QKeyCombination::fromCombined(key | static_cast<int>(shortcut.modifiers())));
}

void applyShortcut(QAction *action, const std::optional<Shortcut> &shortcut, const KeyboardLayout *layout)
{
    action->setShortcut(shortcut ? keySequence(*shortcut, layout) : QKeySequence());
}

void setShortcut(QAction *action, Registry *registry, const std::optional<Name> &name)
{
    // One follower per action: a new name replaces the old one's.
    delete action->findChild<QObject *>(QLatin1String(followerName), Qt::FindDirectChildrenOnly);
    if (!name) {
        applyShortcut(action, std::nullopt, nullptr);
        return;
    }
    const auto apply = [action, registry, followed = *name] {
        applyShortcut(action, registry->shortcut(followed), registry->layout());
    };
    apply();
    auto *follower = new QObject(action);
    follower->setObjectName(QLatin1String(followerName));
    QObject::connect(registry, &Registry::shortcutByNameDidChange, follower,
                     [apply, followed = *name](const Name &changed) {
                         if (changed == followed)
                             apply();
                     });
    QObject::connect(registry, &Registry::layoutChanged, follower, apply);
}

QAction *actionWithMatchingShortcut(const Shortcut &shortcut, const QList<QAction *> &actions,
                                    const KeyboardLayout *layout)
{
    const QKeySequence sequence = keySequence(shortcut, layout);
    if (sequence.isEmpty())
        return nullptr;
    for (QAction *action : actions) {
        if (action->shortcuts().contains(sequence))
            return action;
        if (QMenu *menu = action->menu())
            if (QAction *found = actionWithMatchingShortcut(shortcut, menu->actions(), layout))
                return found;
    }
    return nullptr;
}

} // namespace KeyboardShortcuts
