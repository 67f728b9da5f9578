#pragma once

#include <QRect>

#include <optional>

class QWindow;

namespace WindowPlace {

// Where `window`'s client area is on the screen now, asked of the X server
// itself: Qt learns of a move by the window manager or the user only when
// it gets to the event, which on a busy machine may be seconds later.
// Nothing when that can't be told (no native window yet, another window
// system).
std::optional<QRect> current(const QWindow &window);

} // namespace WindowPlace
