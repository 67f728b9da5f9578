#pragma once

#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

// The application's two global shortcuts, with their defaults
// (Control+Option+N, Control+Option+M), which the shortcut registry stores
// when it first meets a name the user has stored nothing under yet.
namespace GlobalShortcutNames {

const KeyboardShortcuts::Name &newDocumentAnywhere();
const KeyboardShortcuts::Name &toggleWindow();

} // namespace GlobalShortcutNames
