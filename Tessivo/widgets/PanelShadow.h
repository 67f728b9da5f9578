#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>

class QPainter;

// The soft shadow under a floating rounded panel, painted by whatever lies
// beneath the panel. A graphics effect would render the panel into a pixmap
// and blur it on every repaint of the panel; this blurs one small rounded
// rectangle once per look and stretches its straight middle to any size.
namespace PanelShadow {

struct Look
{
    qreal cornerRadius = 12;
    int blurRadius = 30;
    QPointF offset{0, 12};
    QColor color{0, 0, 0, 71};
};

// Paints the shadow of a panel occupying `panel` (in the painter's
// coordinates): `look.blurRadius` beyond its edges, moved by `look.offset`.
void paint(QPainter &painter, const QRectF &panel, const Look &look);

// The area paint() touches for `panel`.
QRectF extent(const QRectF &panel, const Look &look);

} // namespace PanelShadow
