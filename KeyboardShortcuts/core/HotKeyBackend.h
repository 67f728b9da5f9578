#pragma once

#include "KeyboardShortcuts/core/Shortcut.h"

namespace KeyboardShortcuts {

// The window system's side of system-wide hot keys: claims a combination for
// this process so that it is delivered while other applications have the
// focus. The backend reports presses through Registry::handleHotKey.
class HotKeyBackend
{
public:
    virtual ~HotKeyBackend() = default;
    // False when the window system refuses (another program holds it).
    virtual bool grab(const Shortcut &shortcut) = 0;
    virtual void ungrab(const Shortcut &shortcut) = 0;
    // Whether another program holds the combination.
    virtual bool isHeldElsewhere(const Shortcut &shortcut) = 0;
};

} // namespace KeyboardShortcuts
