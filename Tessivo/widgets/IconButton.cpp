#include "widgets/IconButton.h"

#include "widgets/Icon.h"
#include "widgets/PressableIconButtonStyle.h"

#include <QPainter>
#include <QPainterPath>

IconButton::IconButton(IconName icon, int iconSize, int frameSize, QWidget *parent)
    : QAbstractButton(parent), m_icon(icon), m_iconSize(iconSize), m_frame(frameSize)
{
    setFixedSize(frameSize, frameSize);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::NoFocus);
    new PressableIconButtonStyle(this);
}

void IconButton::setIconName(IconName icon)
{
    m_icon = icon;
    update();
}

void IconButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void IconButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void IconButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_hovered) {
        QColor hover = palette().color(QPalette::WindowText);
        hover.setAlphaF(0.07f);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 6, 6);
        painter.fillPath(path, hover);
    }
    const QPixmap image =
        Icon::pixmap(m_icon, m_iconSize, Icon::secondaryColor(palette()), devicePixelRatioF());
    painter.drawPixmap((width() - m_iconSize) / 2, (height() - m_iconSize) / 2, image);
}
