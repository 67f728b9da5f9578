#pragma once

#include "KeyboardShortcuts/core/Registry.h"

namespace KeyboardShortcuts {

// Global shortcuts never reach the app in a Wayland session, even through
// XWayland, so nothing is claimed there.
bool isWaylandSession();

} // namespace KeyboardShortcuts
