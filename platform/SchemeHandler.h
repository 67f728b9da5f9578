#pragma once

#include <QString>

// Makes the desktop hand "tessivo:" URLs (the browser sign-in callback) to
// this binary: a user-level desktop entry that runs it, registered with
// xdg-mime as the default handler of x-scheme-handler/tessivo. A later
// launch of the binary with the URL then passes it to the running app
// through the single-instance socket.
//
// The entry's Exec names the program unquoted: xdg-open's generic mode (any
// desktop but GNOME, KDE, Xfce and a few more) takes Exec's first word with
// its quotes and splits on spaces whatever the quoting. A binary whose path
// would need quoting is run through a symbolic link of a plain path,
// <XDG data home>/tessivo/bin/tessivo.
namespace SchemeHandler {

// The desktop entry's text that runs `program` (an absolute path).
QString desktopEntry(const QString &program);

// True when `path` can stand in Exec as it is.
bool needsNoQuoting(const QString &path);

// The program the entry names for `binary`: the binary itself, or the link
// to it (made or corrected here). Empty when the link can't be made.
QString programFor(const QString &binary);

// Writes the entry to <XDG data home>/applications/tessivo.desktop and
// registers it, unless an identical entry is already there. Returns at once;
// failures are logged.
void registerBinary(const QString &binary);

} // namespace SchemeHandler
