#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

namespace KeyboardShortcuts {

bool isWaylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) ==
               0 ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

} // namespace KeyboardShortcuts
