#include "widgets/ThinScroller.h"

#include "widgets/core/ThinScrollerGeometry.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

ThinScroller::ThinScroller(QWidget *parent) : QScrollBar(Qt::Vertical, parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAttribute(Qt::WA_Hover, true);
    setAutoFillBackground(false);
    setFixedWidth(ThinScrollerGeometry::width);
}

QSize ThinScroller::sizeHint() const
{
    return {ThinScrollerGeometry::width, 100};
}

QSize ThinScroller::minimumSizeHint() const
{
    return {ThinScrollerGeometry::width, 0};
}

qreal ThinScroller::proportion() const
{
    const qreal range = qreal(maximum()) - minimum();
    const qreal page = std::max(pageStep(), 1);
    if (range <= 0) {
        return 1;
    }
    return page / (range + page);
}

qreal ThinScroller::position() const
{
    const qreal range = qreal(maximum()) - minimum();
    if (range <= 0) {
        return 0;
    }
    return (qreal(value()) - minimum()) / range;
}

bool ThinScroller::isDarkAppearance() const
{
    return palette().color(QPalette::Window).lightness() < 128;
}

void ThinScroller::paintEvent(QPaintEvent *)
{
    // No track: only the knob is drawn, on whatever lies behind the scroller.
    const auto knob = ThinScrollerGeometry::knobRect(QRectF(rect()), proportion(), position());
    if (!knob) {
        return;
    }
    QColor colour;
    if (isDarkAppearance()) {
        colour = QColor::fromRgbF(1, 1, 1, m_hovering ? 0.35f : 0.22f);
    } else {
        colour = QColor::fromRgbF(0, 0, 0, m_hovering ? 0.32f : 0.2f);
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(*knob, ThinScrollerGeometry::knobRadius, ThinScrollerGeometry::knobRadius);
    painter.fillPath(path, colour);
}

void ThinScroller::enterEvent(QEnterEvent *event)
{
    m_hovering = true;
    update();
    QScrollBar::enterEvent(event);
}

void ThinScroller::leaveEvent(QEvent *event)
{
    m_hovering = false;
    update();
    QScrollBar::leaveEvent(event);
}

// The style's own hit testing knows nothing of the knob drawn here, so the
// pointer is handled against the same geometry that paints it.
void ThinScroller::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const auto knob = ThinScrollerGeometry::knobRect(QRectF(rect()), proportion(), position());
    if (!knob) {
        return;
    }
    const qreal y = event->position().y();
    if (y >= knob->top() && y <= knob->bottom()) {
        m_dragging = true;
        m_grabOffset = y - knob->top();
        setSliderDown(true);
    } else {
        triggerAction(y < knob->top() ? SliderPageStepSub : SliderPageStepAdd);
    }
    event->accept();
}

void ThinScroller::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging) {
        setPositionFromKnobTop(event->position().y() - m_grabOffset);
        event->accept();
        return;
    }
    event->ignore();
}

void ThinScroller::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_dragging) {
        m_dragging = false;
        setSliderDown(false);
    }
    event->accept();
}

void ThinScroller::setPositionFromKnobTop(qreal knobTop)
{
    const qreal fraction = ThinScrollerGeometry::positionForKnobTop(QRectF(rect()), proportion(), knobTop);
    const qreal range = qreal(maximum()) - minimum();
    setSliderPosition(minimum() + int(std::lround(fraction * range)));
}
