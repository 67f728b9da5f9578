#pragma once

#include <QProcessEnvironment>

// The desktop's wish for less motion, as the desktops keep it: GNOME's
// org.gnome.desktop.interface enable-animations (read through gsettings,
// when it is installed), KDE's AnimationDurationFactor in kdeglobals (0
// means no animations), and, where the desktop has neither,
// TESSIVO_REDUCE_MOTION=1. Any one of them asking for less is enough.
namespace DesktopMotion {

// Reads the settings now, with `environment` for the paths and for
// gsettings. Starts a process: read it once, at start, not per animation.
bool reduced(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

} // namespace DesktopMotion
