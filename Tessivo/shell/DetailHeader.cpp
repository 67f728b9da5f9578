#include "shell/DetailHeader.h"

#include "widgets/Icon.h"
#include "widgets/PressableIconButtonStyle.h"

#include <QPainter>
#include <QPainterPath>

HeaderIconButton::HeaderIconButton(IconName icon, const QString &help, bool selected, QWidget *parent)
    : QAbstractButton(parent), m_icon(icon), m_selected(selected)
{
    setToolTip(help);
    setAccessibleName(help);
    setFixedSize(28, 24);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::TabFocus);
    new PressableIconButtonStyle(this);
}

void HeaderIconButton::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

qreal HeaderIconButton::fillOpacity() const
{
    if (m_selected)
        return 0.1;
    return m_hovering ? 0.05 : 0.0;
}

void HeaderIconButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor primary = palette().color(QPalette::WindowText);
    if (const qreal opacity = fillOpacity(); opacity > 0) {
        QColor fill = primary;
        fill.setAlphaF(float(opacity));
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 6, 6);
        painter.fillPath(shape, fill);
    }
    QColor tint = m_selected ? primary : Icon::secondaryColor(palette());
    if (!isEnabled())
        tint.setAlphaF(tint.alphaF() * 0.4f);
    const QPixmap pixmap = Icon::pixmap(m_icon, 15, tint, devicePixelRatioF());
    const QPoint topLeft((width() - 15) / 2, (height() - 15) / 2);
    painter.drawPixmap(QRect(topLeft, QSize(15, 15)), pixmap);
}

void HeaderIconButton::enterEvent(QEnterEvent *event)
{
    m_hovering = true;
    update();
    QAbstractButton::enterEvent(event);
}

void HeaderIconButton::leaveEvent(QEvent *event)
{
    m_hovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}
