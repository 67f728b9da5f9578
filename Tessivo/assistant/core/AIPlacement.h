#pragma once

#include "assistant/core/AIMenuModel.h"
#include "editor/core/AITrigger.h"

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

// Where the AI pill and the AI menu go, in screen coordinates (y grows
// downward). `visible` is the usable area of the screen, when one is known.
namespace AIPlacement {

// Refine: just above the first line of the selection, starting a little to
// its left; generate: right of the caret, centred on it. Either goes below
// the anchor when it would stick out above the screen's top.
QPoint pillOrigin(AITrigger::Kind kind, const QRect &anchor, const QSize &pill,
                  const std::optional<QRect> &visible);

constexpr int menuWidth = 352;
constexpr int rowPitch = 34;
constexpr int maximumVisibleRows = 8;
constexpr int errorRowHeight = 40;

// The menu's height for what the model shows. The generate hint takes
// `hintHeight` when it needs more than its usual 50 points, the error row
// `errorHeight` when its message needs more than its usual 40.
int menuHeight(const AIMenuModel &model, int hintHeight = 0, int errorHeight = 0);

// Below the line at the end of the range (`end`), or above the line at its
// start (`start`) when there is no room below but room above; kept 12
// points inside the screen's sides, and never below its bottom or above
// its top.
QPoint menuOrigin(const QRect &start, const QRect &end, int height, const std::optional<QRect> &visible);

} // namespace AIPlacement
