#pragma once

#include <QRectF>

#include <optional>

// Where the thin scroller draws its knob. Kept apart from the widget so that
// the arithmetic can be checked without a display.
namespace ThinScrollerGeometry {

inline constexpr int width = 7;          // the scroller's whole width
inline constexpr qreal knobWidth = 5;    // drawn from the scroller's left edge
inline constexpr qreal knobRadius = 2.5; // both corner radii
inline constexpr qreal minimumKnobLength = 24;
inline constexpr qreal verticalInset = 2; // kept free at both ends

// `proportion`: visible part of the content (0..1, 1 or more: all visible);
// `position`: scroll position from the top (0) to the end (1). Nothing when
// everything is visible. Coordinates grow downwards, as the widget's do.
std::optional<QRectF> knobRect(const QRectF &bounds, qreal proportion, qreal position);

// The scroll position (0..1) that puts the knob's top at `knobTop`.
qreal positionForKnobTop(const QRectF &bounds, qreal proportion, qreal knobTop);

} // namespace ThinScrollerGeometry
