#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

// Where a top-level window's frame goes on a screen. A frame is the whole
// window as the window manager draws it: title bar and borders included.
namespace WindowFit {

// `frame` when it lies wholly within `available` (the screen's area free
// of panels); else no larger than `available`, moved as little as needed
// to lie within it.
QRect fitted(const QRect &frame, const QRect &available);

// A frame around a client area of `size` with `margins` (the manager's
// title bar and borders), centred in `available` and fitted to it.
QRect centred(const QSize &size, const QMargins &margins, const QRect &available);

} // namespace WindowFit
