#include "assistant/core/AIPlacement.h"

#include <algorithm>
#include <cmath>

namespace {

// QRect's right() and bottom() are one short of the edge.
int rightEdge(const QRect &r)
{
    return r.x() + r.width();
}

int bottomEdge(const QRect &r)
{
    return r.y() + r.height();
}

} // namespace

QPoint AIPlacement::pillOrigin(AITrigger::Kind kind, const QRect &anchor, const QSize &pill,
                               const std::optional<QRect> &visible)
{
    const int w = pill.width();
    const int h = pill.height();
    int x = 0;
    int y = 0;
    if (kind == AITrigger::Kind::Generate) {
        x = rightEdge(anchor) + 8;
        y = anchor.y() + anchor.height() / 2 - h / 2;
    } else {
        x = anchor.x() - 4;
        y = anchor.y() - 6 - h;
    }
    if (visible) {
        if (y < visible->y()) {
            y = bottomEdge(anchor) + 6;
        }
        x = std::min(std::max(x, visible->x()), rightEdge(*visible) - w);
    }
    return {x, y};
}

int AIPlacement::menuHeight(const AIMenuModel &model, int hintHeight, int errorHeight)
{
    if (model.phase().kind == AIMenuModel::Phase::Kind::Streaming) {
        return 48;
    }
    const double header =
        model.isGenerate() ? std::max(model.headerHeight(), AIMenuModel::defaultHeaderHeight) : 44;
    int height = int(std::ceil(header));
    if (model.phase().kind == AIMenuModel::Phase::Kind::Error) {
        height += std::max(errorRowHeight, errorHeight);
    }
    if (model.isGenerate()) {
        return height + std::max(50, hintHeight);
    }
    const int rows = model.rowCount();
    return height + (rows == 0 ? 44 : std::min(rows, maximumVisibleRows) * rowPitch + 12);
}

QPoint AIPlacement::menuOrigin(const QRect &start, const QRect &end, int height,
                               const std::optional<QRect> &visible)
{
    int x = start.x() - 8;
    int y = bottomEdge(end) + 8;
    if (visible) {
        if (y + height > bottomEdge(*visible) && start.y() - 8 - height >= visible->y()) {
            y = start.y() - 8 - height;
        }
        x = std::max(x, visible->x() + 12);
        x = std::min(x, rightEdge(*visible) - menuWidth - 12);
        y = std::min(y, bottomEdge(*visible) - height);
        // A caret above the screen's top (its window hangs off it) would take
        // the panel out of sight.
        y = std::max(y, visible->y());
    }
    return {x, y};
}
