#pragma once

#include "KeyboardShortcuts/core/Name.h"

#include <functional>

class QWidget;

namespace KeyboardShortcuts {

class Registry;

// Runs `action` for each press and release of the name's shortcut while
// `view` is shown; hiding the view ends the stream (and releases the key
// when nothing else uses it).
// `registry` must outlive the view.
void onKeyboardShortcut(QWidget *view, Registry *registry, const Name &name,
                        std::function<void(EventType)> action);
// The same for one kind of event.
void onKeyboardShortcut(QWidget *view, Registry *registry, const Name &name, EventType type,
                        std::function<void()> action);

} // namespace KeyboardShortcuts
