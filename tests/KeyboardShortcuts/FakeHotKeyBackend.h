#pragma once

// A stand-in for the window system's hot keys: what it holds, and what
// "another program" holds.
#include "KeyboardShortcuts/core/HotKeyBackend.h"

#include <QSet>

class FakeHotKeyBackend final : public KeyboardShortcuts::HotKeyBackend
{
public:
    using Shortcut = KeyboardShortcuts::Shortcut;

    QSet<Shortcut> grabbed;
    QSet<Shortcut> heldElsewhere;

    bool grab(const Shortcut &s) override
    {
        if (heldElsewhere.contains(s))
            return false;
        grabbed.insert(s);
        return true;
    }
    void ungrab(const Shortcut &s) override { grabbed.remove(s); }
    bool isHeldElsewhere(const Shortcut &s) override { return heldElsewhere.contains(s); }
};
