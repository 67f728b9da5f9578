#include "KeyboardShortcuts/MenuItemShortcuts.h"

#include "KeyboardShortcuts/core/DisplayText.h"
#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

#include <QAction>
#include <QMenu>

namespace KeyboardShortcuts {

namespace {

const char followerName[] = "KeyboardShortcuts.follower";

} // namespace

QKeySequence keySequence(const Shortcut &shortcut)
{
    const int key = qtKey(shortcut);
    if (!key)
        return {};
    return QKeySequence(QKeyCombination::fromCombined(key | static_cast<int>(shortcut.modifiers())));
}

void applyShortcut(QAction *action, const std::optional<Shortcut> &shortcut)
{
    action->setShortcut(shortcut ? keySequence(*shortcut) : QKeySequence());
}

void setShortcut(QAction *action, const std::optional<Name> &name)
{
    // One follower per action: a new name replaces the old one's.
    delete action->findChild<QObject *>(QLatin1String(followerName), Qt::FindDirectChildrenOnly);
    if (!name) {
        applyShortcut(action, std::nullopt);
        return;
    }
    applyShortcut(action, getShortcut(*name));
    auto *follower = new QObject(action);
    follower->setObjectName(QLatin1String(followerName));
    QObject::connect(notifier(), &Notifier::shortcutByNameDidChange, follower,
                     [action, followed = *name](const Name &changed) {
                         if (changed == followed)
                             applyShortcut(action, getShortcut(followed));
                     });
}

QAction *actionWithMatchingShortcut(const Shortcut &shortcut, const QList<QAction *> &actions)
{
    const QKeySequence sequence = keySequence(shortcut);
    if (sequence.isEmpty())
        return nullptr;
    for (QAction *action : actions) {
        if (action->shortcuts().contains(sequence))
            return action;
        if (QMenu *menu = action->menu())
            if (QAction *found = actionWithMatchingShortcut(shortcut, menu->actions()))
                return found;
    }
    return nullptr;
}

} // namespace KeyboardShortcuts
