#pragma once

#include <QString>

// Makes the desktop hand "tessivo:" URLs (the browser sign-in callback) to
// this binary: a user-level desktop entry whose Exec is the binary's
// absolute path, registered with xdg-mime as the default handler of
// x-scheme-handler/tessivo. A later launch of the binary with the URL then
// passes it to the running app through the single-instance socket.
namespace SchemeHandler {

// The desktop entry's text for `binary` (an absolute path).
QString desktopEntry(const QString &binary);

// Writes the entry to <XDG data home>/applications/tessivo.desktop and
// registers it, unless an identical entry is already there. Returns at once;
// failures are logged.
void registerBinary(const QString &binary);

} // namespace SchemeHandler
