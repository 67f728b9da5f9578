#include "shell/BusyIndicator.h"

#include <QPainter>
#include <QVariantAnimation>

BusyIndicator::BusyIndicator(QWidget *parent) : QWidget(parent), m_turn(new QVariantAnimation(this))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_turn->setStartValue(0);
    m_turn->setEndValue(360);
    m_turn->setDuration(900);
    m_turn->setLoopCount(-1);
    connect(m_turn, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_angle = value.toInt();
        update();
    });
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height()) - 3;
    const QRectF circle((width() - side) / 2, (height() - side) / 2, side, side);
    QColor color = palette().color(QPalette::WindowText);
    color.setAlphaF(0.2);
    painter.setPen(QPen(color, 2));
    painter.drawEllipse(circle);
    color.setAlphaF(0.8);
    painter.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap));
    // Qt's angles are in sixteenths of a degree, counter-clockwise.
    painter.drawArc(circle, (90 - m_angle) * 16, 100 * 16);
}

// Turning only while on screen: a hidden indicator costs nothing.
void BusyIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_turn->start();
}

void BusyIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_turn->stop();
}
