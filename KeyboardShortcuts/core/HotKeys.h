#pragma once

#include "KeyboardShortcuts/core/HotKeyBackend.h"

#include <functional>

namespace KeyboardShortcuts {
class HotKeyBackend;
}

// System-wide hot keys: one record per registration, each with its press and
// release callbacks. Records survive a disabled or paused period (their grabs
// are released meanwhile) and are claimed again when it ends; a refused
// claim drops the record. Failures are silent. Main thread only.
namespace KeyboardShortcuts::HotKeys {

using Callback = std::function<void(const Shortcut &)>;

// The backend in use (not owned). Without one nothing is claimed, as in a
// Wayland session; records made before a backend is set are claimed then.
void setBackend(HotKeyBackend *backend);
HotKeyBackend *backend();

void registerShortcut(const Shortcut &shortcut, Callback onKeyDown, Callback onKeyUp);
// Removes every record of the combination, whoever made it.
void unregisterShortcut(const Shortcut &shortcut);
bool isRegistered(const Shortcut &shortcut);
bool hasRecords();

// Delivers a press or release of a claimed combination to its first record;
// false when no record has it.
bool handleHotKey(const Shortcut &shortcut, EventType type);

// While disabled or suspended nothing is claimed. Suspension is what the
// recorder uses so that the keys it records reach it rather than the grab.
void setEnabled(bool enabled);
bool isEnabled();
void setSuspended(bool suspended);

// Whether another program holds the combination (the recorder's check for
// shortcuts the system uses).
bool isTakenBySystem(const Shortcut &shortcut);

// Drops every record without touching the backend (tests).
void reset();

} // namespace KeyboardShortcuts::HotKeys
