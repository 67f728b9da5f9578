#include "widgets/core/ThinScrollerGeometry.h"

#include <algorithm>

namespace ThinScrollerGeometry {

namespace {

QRectF track(const QRectF &bounds)
{
    return bounds.adjusted(0, verticalInset, 0, -verticalInset);
}

qreal knobLength(const QRectF &r, qreal proportion)
{
    return std::max(r.height() * proportion, minimumKnobLength);
}

} // namespace

std::optional<QRectF> knobRect(const QRectF &bounds, qreal proportion, qreal position)
{
    if (!(proportion < 1)) {
        return std::nullopt;
    }
    const QRectF r = track(bounds);
    const qreal h = knobLength(r, std::max<qreal>(proportion, 0));
    const qreal clamped = std::clamp<qreal>(position, 0, 1);
    const qreal y = r.top() + clamped * (r.height() - h);
    return QRectF(r.left(), y, knobWidth, h);
}

qreal positionForKnobTop(const QRectF &bounds, qreal proportion, qreal knobTop)
{
    const QRectF r = track(bounds);
    const qreal travel = r.height() - knobLength(r, std::clamp<qreal>(proportion, 0, 1));
    if (travel <= 0) {
        return 0;
    }
    return std::clamp<qreal>((knobTop - r.top()) / travel, 0, 1);
}

} // namespace ThinScrollerGeometry
