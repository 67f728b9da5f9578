#pragma once

#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

// The application's two global shortcuts. Each name is made once, on first
// use, which stores its default (Control+Option+N, Control+Option+M) when
// the user has stored nothing under it yet.
namespace GlobalShortcutNames {

const KeyboardShortcuts::Name &newDocumentAnywhere();
const KeyboardShortcuts::Name &toggleWindow();

} // namespace GlobalShortcutNames
